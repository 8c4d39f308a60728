// Draws the "Office" menu as the installed menu entries define it: every
// entry of that category in an applications folder, with its name, generic
// name and icon from the icon theme in the given language, ours highlighted
// with its comment beside it. A stand-in for a desktop's menu where there is
// no desktop to show one.
//
//   QT_QPA_PLATFORM=offscreen menu_entry_picture /usr/share/applications out.png zh_CN

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QMap>
#include <QPainter>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString kOurs = QStringLiteral("org.plinthwick.Plinthwick.desktop");

// The [Desktop Entry] group of a menu entry file, key to value.
QMap<QString, QString> ReadEntry(const QString& path) {
  QMap<QString, QString> keys;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return keys;
  QTextStream in(&file);
  bool inEntry = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith('[')) {
      inEntry = line == QLatin1String("[Desktop Entry]");
      continue;
    }
    const qsizetype eq = line.indexOf('=');
    if (inEntry && eq > 0 && !line.startsWith('#'))
      keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
  }
  return keys;
}

// A localised key as the desktop reads it: Key[ll_CC], Key[ll], then Key.
QString Localised(const QMap<QString, QString>& entry, const QString& key, const QString& lang) {
  for (const QString& k : {key + "[" + lang + "]", key + "[" + lang.section('_', 0, 0) + "]", key})
    if (entry.contains(k)) return entry.value(k);
  return {};
}

struct Item {
  QString file, name, generic, comment;
  QIcon icon;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: menu_entry_picture APPLICATIONS_FOLDER OUT.png LANGUAGE\n");
    return 2;
  }
  QFont font(QStringLiteral("Noto Sans CJK SC"));
  font.setPixelSize(13);
  QApplication::setFont(font);
  // Icons where the desktop looks for them: the data folders' icons/.
  QStringList iconPaths;
  const QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
  for (const QString& dir : dataDirs.split(':', Qt::SkipEmptyParts)) iconPaths << dir + "/icons";
  QIcon::setThemeSearchPaths(iconPaths);
  QIcon::setThemeName(QStringLiteral("hicolor"));
  const QString lang = QString::fromLocal8Bit(argv[3]);

  std::vector<Item> items;
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  for (const QString& name : folder.entryList({"*.desktop"}, QDir::Files)) {
    const auto entry = ReadEntry(folder.filePath(name));
    if (entry.value("Type") != QLatin1String("Application") ||
        entry.value("NoDisplay") == QLatin1String("true") ||
        entry.value("Hidden") == QLatin1String("true") ||
        !entry.value("Categories").split(';').contains(QLatin1String("Office")))
      continue;
    const QString icon = entry.value("Icon");
    items.push_back({name, Localised(entry, "Name", lang), Localised(entry, "GenericName", lang),
                     Localised(entry, "Comment", lang),
                     QDir::isAbsolutePath(icon) ? QIcon(icon) : QIcon::fromTheme(icon)});
  }
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return a.name.localeAwareCompare(b.name) < 0; });
  const auto ours =
      std::find_if(items.begin(), items.end(), [](const Item& i) { return i.file == kOurs; });
  if (ours == items.end()) {
    std::fprintf(stderr, "no %s among the Office entries\n", qPrintable(kOurs));
    return 1;
  }

  const int rowH = 56, menuW = 330, headerH = 34, tipW = 300;
  const int menuH = headerH + rowH * static_cast<int>(items.size()) + 8;
  QImage image(menuW + tipW + 30, std::max(menuH, 170) + 36, QImage::Format_RGB32);
  image.fill(QColor(236, 239, 243));
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(190, 196, 204));
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRect(10, 10, menuW, menuH), 8, 8);
  QFont bold = font;
  bold.setBold(true);
  p.setFont(bold);
  p.setPen(QColor(90, 96, 104));
  p.drawText(
      QRect(24, 10, menuW - 28, headerH), Qt::AlignVCenter,
      lang.startsWith(QLatin1String("zh")) ? QStringLiteral("办公") : QStringLiteral("Office"));
  int y = 10 + headerH;
  QRect oursRow;
  for (const Item& item : items) {
    const QRect row(14, y, menuW - 8, rowH - 4);
    if (item.file == kOurs) {
      oursRow = row;
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(53, 132, 228));
    }
    if (item.file == kOurs) p.drawRoundedRect(row, 6, 6);
    const QColor ink = item.file == kOurs ? Qt::white : QColor(30, 30, 30);
    p.drawPixmap(row.left() + 8, row.top() + 4, item.icon.pixmap(44, 44));
    p.setPen(ink);
    p.setFont(bold);
    p.drawText(QRect(row.left() + 62, row.top() + 6, row.width() - 66, 20), Qt::AlignLeft,
               item.name);
    p.setFont(font);
    p.drawText(QRect(row.left() + 62, row.top() + 27, row.width() - 66, 20), Qt::AlignLeft,
               item.generic);
    y += rowH;
  }
  // The comment, as a desktop shows it when the pointer rests on the entry.
  const QRect tip(menuW + 20, oursRow.top(), tipW, 74);
  p.setPen(QColor(160, 160, 160));
  p.setBrush(QColor(255, 255, 225));
  p.drawRoundedRect(tip, 4, 4);
  p.setPen(QColor(30, 30, 30));
  p.drawText(tip.adjusted(8, 6, -8, -6), Qt::TextWordWrap, ours->comment);
  QFont small = font;
  small.setPixelSize(11);
  p.setFont(small);
  p.setPen(QColor(110, 110, 110));
  p.drawText(QRect(12, image.height() - 28, image.width() - 20, 22), Qt::AlignVCenter,
             folder.filePath(kOurs));
  p.end();
  if (!image.save(QString::fromLocal8Bit(argv[2]))) return 1;
  return 0;
}

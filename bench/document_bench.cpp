// Document merge and split against two plain uses of the same office engine:
// (a) inserting every file into one warm instance's document with
//     insertDocumentFromURL, (b) converting every file by one warm instance
//     (the per-document floor). Each figure runs in a child process of its own
//     and is printed with the peak memory of the program and of the office server.
//
// Usage: document_bench [documents=50] [pages per document=5] [split pages=100]
//                       [documents in the batch split=20]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/document/XDocumentInsertable.hpp>
#include <com/sun/star/frame/DispatchHelper.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/style/BreakType.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "ops/document/document_ops.h"
#include "platform/office/office_uno.h"
#include "platform/office/word.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Quiet : pw::RunReporter {
  std::vector<double> marks;  // seconds since start at each finished file
  Clock::time_point start = Clock::now();
  void Status(const std::string&) override {}
  void Counter(int) override {
    marks.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  void BeginProgress(int) override {}
  void StepProgress() override {}
  void EndProgress() override {}
  void RemoveRow(int) override {}
  void SourceRemoved(int, pw::RemoveOutcome) override {}
};

std::string Lorem(int words, int seed) {
  static const char* const pool[] = {"office", "merge",  "table", "plinth", "paper", "column",
                                     "border", "margin", "index", "letter", "field", "report"};
  std::string s;
  for (int i = 0; i < words; ++i) s += std::string(pool[(i * 7 + seed) % 12]) + " ";
  return s;
}

// A flat text document of about `pages` pages, made like an ordinary report:
// a header, a "page N of M" footer, headings, paragraphs with a footnote, a
// numbered list, a table and a picture on every page.
std::string Document(int pages, int seed) {
  static const char* const pixel =
      "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+"
      "M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==";
  std::string x = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:automatic-styles>
<style:style style:name="PB" style:family="paragraph"><style:paragraph-properties fo:break-before="page"/></style:style>
<text:list-style style:name="L1"><text:list-level-style-number text:level="1" style:num-format="1" style:num-suffix="."/></text:list-style>
<style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="21cm" fo:page-height="29.7cm" fo:margin-top="2cm" fo:margin-bottom="2cm" fo:margin-left="2.5cm" fo:margin-right="2.5cm"/><style:header-style/><style:footer-style/></style:page-layout>
</office:automatic-styles>
<office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1">
<style:header><text:p>Quarterly report )" +
                  std::to_string(seed) + R"(</text:p></style:header>
<style:footer><text:p>Page <text:page-number text:select-page="current"/> of <text:page-count/></text:p></style:footer>
</style:master-page></office:master-styles>
<office:body><office:text>
)";
  for (int p = 0; p < pages; ++p) {
    x += std::string("<text:h text:outline-level=\"1\"") + (p ? " text:style-name=\"PB\"" : "") +
         ">Section " + std::to_string(seed) + "." + std::to_string(p + 1) + "</text:h>\n";
    for (int k = 0; k < 5; ++k) {
      x += "<text:p>" + Lorem(55, seed + k);
      if (k == 1)
        x += "<text:note text:note-class=\"footnote\"><text:note-citation>" +
             std::to_string(p + 1) + "</text:note-citation><text:note-body><text:p>" + Lorem(8, k) +
             "</text:p></text:note-body></text:note>";
      x += "</text:p>\n";
    }
    x += "<text:list text:style-name=\"L1\">";
    for (int k = 0; k < 3; ++k)
      x += "<text:list-item><text:p>" + Lorem(6, k) + "</text:p></text:list-item>";
    x += "</text:list>\n";
    x += "<table:table><table:table-column table:number-columns-repeated=\"3\"/>";
    for (int r = 0; r < 3; ++r) {
      x += "<table:table-row>";
      for (int c = 0; c < 3; ++c)
        x += "<table:table-cell><text:p>" + Lorem(2, r * 3 + c) + "</text:p></table:table-cell>";
      x += "</table:table-row>";
    }
    x += "</table:table>\n";
    x += "<text:p><draw:frame draw:name=\"pic" + std::to_string(p) +
         "\" text:anchor-type=\"as-char\" svg:width=\"3cm\" svg:height=\"2cm\"><draw:image>"
         "<office:binary-data>" +
         pixel + "</office:binary-data></draw:image></draw:frame></text:p>\n";
  }
  return x + "</office:text></office:body></office:document>\n";
}

long PeakKb(int who) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_maxrss;
}

// Processor time used, user and system, in seconds.
double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs `work` in a child process and prints its time and peak memory.
// Answers the time, or a negative number when the work failed.
double Measure(const char* label, const std::function<std::string()>& work) {
  std::fflush(stdout);
  int channel[2];
  if (pipe(channel) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    const auto t0 = Clock::now();
    std::string extra;
    try {
      extra = work();
    } catch (const std::exception& e) {
      std::printf("%-44s failed: %s\n", label, e.what());
      std::fflush(stdout);
      _exit(1);
    }
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf(
        "%-44s %8.2f s   cpu: program %5.1f s, office %5.1f s   peak: program %4ld MB, "
        "office %4ld MB%s\n",
        label, secs, CpuSeconds(RUSAGE_SELF), CpuSeconds(RUSAGE_CHILDREN),
        PeakKb(RUSAGE_SELF) / 1024, PeakKb(RUSAGE_CHILDREN) / 1024, extra.c_str());
    std::fflush(stdout);
    if (write(channel[1], &secs, sizeof secs) != static_cast<ssize_t>(sizeof secs)) _exit(1);
    _exit(0);
  }
  close(channel[1]);
  double secs = -1;
  if (read(channel[0], &secs, sizeof secs) != static_cast<ssize_t>(sizeof secs)) secs = -1;
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return secs;
}

std::string Marks(const std::vector<double>& marks) {
  if (marks.size() < 2) return {};
  char buf[96];
  std::snprintf(buf, sizeof buf, "   (first file %.2f s, last file %.2f s)", marks[0],
                marks.back() - marks[marks.size() - 2]);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pw;
  const int count = argc > 1 ? std::atoi(argv[1]) : 50;
  const int pages = argc > 2 ? std::atoi(argv[2]) : 5;
  const int splitPages = argc > 3 ? std::atoi(argv[3]) : 100;
  const int batchCount = argc > 4 ? std::atoi(argv[4]) : 20;
  const std::string dir = std::filesystem::temp_directory_path().string() + "/pw-document-bench-" +
                          std::to_string(getpid());
  std::filesystem::create_directories(dir + "/out");
  std::vector<std::string> files;
  {
    OfficeServer server;
    word::WordApplication app(server);
    for (int i = 0; i < count + 1; ++i) {
      const bool big = i == count;
      const std::string flat = dir + "/src" + std::to_string(i) + ".fodt";
      std::ofstream(flat) << Document(big ? splitPages : pages, i);
      word::WordDocument& d = app.Documents().Open(flat);
      const std::string docx =
          d.SaveAs(dir + (big ? "/long.docx" : "/doc" + std::to_string(i) + ".docx"));
      if (!big) files.push_back(docx);
      if (big || i == 0)
        std::printf("%s: %d pages\n", std::filesystem::path(docx).filename().c_str(),
                    d.PageCount());
      d.Close();
    }
  }
  std::printf("%d documents of %d pages, one document of %d pages\n\n", count, pages, splitPages);

  const double merge = Measure("merge (this program)", [&] {
    RunState run;
    run.WorkList = files;
    for (int i = 0; i < count; ++i) run.WorkRowIndexes.push_back(i);
    run.OutputBase = dir + "/out/merged";
    Quiet q;
    CommonOptions common;
    common.removeFinished = false;
    MergeDocuments(run, {}, common, q);
    return Marks(q.marks);
  });
  {
    OfficeServer server;
    word::WordApplication app(server);
    std::printf("%-44s %d pages\n",
                "  merged document:", app.Documents().Open(dir + "/out/merged.docx").PageCount());
  }

  // (a) as a recorded macro does it, through the dispatcher at the view
  // cursor, which lays out each insert at once; and (a2) through the API at a
  // text cursor of the model, which defers layout to the save.
  for (const bool view : {true, false}) {
    Measure(view ? "(a) Insert Document at the view cursor"
                 : "(a2) insertDocumentFromURL at a text cursor",
            [&] {
              OfficeServer server;
              server.Start();
              auto& s = server.impl();
              auto doc = s.Create("private:factory/swriter");
              std::vector<double> marks;
              const auto t0 = Clock::now();
              s.Call({}, "insert", [&] {
                css::uno::Reference<css::text::XTextDocument> text(doc, css::uno::UNO_QUERY_THROW);
                auto body = text->getText();
                auto viewCursor =
                    css::uno::Reference<css::text::XTextViewCursorSupplier>(
                        css::uno::Reference<css::frame::XModel>(doc, css::uno::UNO_QUERY_THROW)
                            ->getCurrentController(),
                        css::uno::UNO_QUERY_THROW)
                        ->getViewCursor();
                for (const std::string& f : files) {
                  if (view) {
                    // As a recorded macro does it: the dispatcher's Insert Document.
                    viewCursor->gotoEnd(false);
                    css::frame::DispatchHelper::create(s.remote)->executeDispatch(
                        css::uno::Reference<css::frame::XDispatchProvider>(
                            css::uno::Reference<css::frame::XModel>(doc, css::uno::UNO_QUERY_THROW)
                                ->getCurrentController()
                                ->getFrame(),
                            css::uno::UNO_QUERY_THROW),
                        ".uno:InsertDoc", "", 0, Props({Prop("Name", css::uno::Any(FileUrl(f)))}));
                  } else {
                    auto cursor = body->createTextCursor();
                    cursor->gotoEnd(false);
                    css::uno::Reference<css::document::XDocumentInsertable>(
                        cursor, css::uno::UNO_QUERY_THROW)
                        ->insertDocumentFromURL(FileUrl(f), {});
                  }
                  body->insertControlCharacter(body->getEnd(), 0, false);
                  css::uno::Reference<css::beans::XPropertySet>(body->getEnd(),
                                                                css::uno::UNO_QUERY_THROW)
                      ->setPropertyValue("BreakType",
                                         css::uno::Any(css::style::BreakType_PAGE_BEFORE));
                  marks.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
                }
              });
              s.Store(doc, dir + "/out/inserted.docx", "MS Word 2007 XML", "save");
              return Marks(marks);
            });
  }

  const double floor = Measure("(b) convert each document, warm instance", [&] {
    OfficeServer server;
    server.Start();
    auto& s = server.impl();
    for (std::size_t i = 0; i < files.size(); ++i) {
      auto doc = s.Load(files[i]);
      s.Store(doc, dir + "/out/converted" + std::to_string(i) + ".docx", "MS Word 2007 XML",
              "save");
      s.CloseDocument(doc);
    }
    return std::string();
  });

  if (merge > 0 && floor > 0) std::printf("%-44s %8.2f\n", "  merge against (b):", merge / floor);

  // What opening alone costs: the part of the floor a merge cannot do
  // without, whichever server does it.
  Measure("(c) open each document only, warm instance", [&] {
    OfficeServer server;
    server.Start();
    auto& s = server.impl();
    for (const std::string& f : files) s.CloseDocument(s.Load(f));
    return std::string();
  });

  // Splits `sources` by `perPart` pages with `servers` servers into `out`;
  // answers how many parts it wrote and when each source was done.
  const auto split = [](const std::vector<std::string>& sources, const std::string& out,
                        const char* perPart, int servers) {
    RunState run;
    run.WorkList = sources;
    for (std::size_t i = 0; i < sources.size(); ++i)
      run.WorkRowIndexes.push_back(static_cast<int>(i));
    run.OutputBase = out + "/x";
    Quiet q;
    CommonOptions common;
    common.removeFinished = false;
    DocumentSplitOptions options;
    options.way = DocumentSplitOptions::Way::Pages;
    options.pagesText = perPart;
    options.servers = servers;
    SplitDocuments(run, options, common, q);
    const auto parts = std::distance(std::filesystem::directory_iterator(out), {});
    return "   " + std::to_string(parts) + " parts" + Marks(q.marks);
  };

  // A batch of `batch` documents split by 2 pages, by one server and by two.
  const std::size_t batch =
      std::min<std::size_t>(files.size(), static_cast<std::size_t>(std::max(batchCount, 1)));
  const std::vector<std::string> batchFiles(files.begin(),
                                            files.begin() + static_cast<long>(batch));
  std::vector<double> batchSeconds;
  for (const int servers : {1, 2}) {
    const std::string out = dir + "/out/batch" + std::to_string(servers);
    std::filesystem::create_directories(out);
    const std::string label = "batch split of " + std::to_string(batch) + " by 2 pages, " +
                              std::to_string(servers) + (servers == 1 ? " server" : " servers");
    batchSeconds.push_back(
        Measure(label.c_str(), [&] { return split(batchFiles, out, "2", servers); }));
  }
  if (batchSeconds[0] > 0 && batchSeconds[1] > 0)
    std::printf("%-44s %8.2f x\n", "  two servers against one:", batchSeconds[0] / batchSeconds[1]);

  std::filesystem::create_directories(dir + "/out/long");
  Measure("split long.docx by 5 pages (this program)",
          [&] { return split({dir + "/long.docx"}, dir + "/out/long", "5", 2); });

  std::filesystem::remove_all(dir);
  return 0;
}

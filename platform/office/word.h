#pragma once
// A word-processor object model on the private office server: an application
// with its documents, one selection that acts on the active document, and
// character positions as a word processor counts them (every character of the
// main text, each paragraph end counting as one).
//
// Content travels between documents through the application itself, never
// through the system clipboard. Documents are opened read-only and are never
// saved back: only SaveAs writes, and only to the path it is given.

#include <list>
#include <memory>
#include <string>
#include <vector>

#include "platform/office/office_server.h"

namespace pw::word {

// Argument values, named as the word processor names them.
constexpr int wdWord = 2;
constexpr int wdStory = 6;
constexpr int wdExtend = 1;
constexpr int wdGoToPage = 1;
constexpr int wdGoToAbsolute = 1;
constexpr int wdNumberOfPagesInDocument = 4;
constexpr int wdDialogToolsWordCount = 228;

class WordApplication;
class WordDocument;
struct DocumentState;

// A span of character positions [start, end) of one document.
class WordRange {
 public:
  WordRange(WordDocument& doc, int start, int end) : doc_(&doc), start_(start), end_(end) {}
  void Select();
  int Start() const { return start_; }
  int End() const { return end_; }

 private:
  WordDocument* doc_;
  int start_, end_;
};

class WordDocument {
 public:
  WordDocument(WordApplication& app, std::unique_ptr<DocumentState> state);
  ~WordDocument();

  WordApplication& Application() { return *app_; }
  WordRange Range(int start, int end) { return WordRange(*this, start, end); }
  // Saves under `path`: .doc as Word 97, .docx (or no extension, which gets
  // ".docx") as Word 2007 XML, .odt as ODF. Answers the path written.
  std::string SaveAs(const std::string& path);
  // Closes the document without saving it.
  void Close();

  // Where page `page` (counted as PageCount counts) starts, for cutting
  // the document there. Mostly a plain position: the part before ends there
  // and the next part starts there. A table of the main text that runs across
  // the top of the page is cut at the first row the page starts with: both
  // parts take the whole table, and each keeps its own rows (see KeepRows).
  // A row that itself runs across the top of the page is cut inside, cell by
  // cell (`cells`): both parts take row `row - 1`, the part before with what
  // each cell shows above the page's top, the part after with the rest. Where
  // that cannot be done (a table or picture running across the page inside a
  // cell, a repeated heading row) the row goes whole to the next part
  // (`rowMoved`). A page that starts with a table's first row is cut before
  // the table.
  struct CellCut {
    std::string cell;  // the cell's name, as "B7"
    int item = 0;      // the cut lies before this paragraph or table of the cell
    int offset = 0;    // this many positions into it
  };
  struct PageStart {
    int end = 0;   // the part before ends here
    int next = 0;  // the part after starts here
    int row = -1;  // the row the page starts with, of the table both parts take
    bool rowMoved = false;
    std::vector<CellCut> cells;  // row `row - 1` is cut inside: where, cell by cell
  };
  PageStart StartOfPage(int page);

  // Readies a part just filled with a span of another document: its last
  // table keeps the rows before `lastTableEnd` and its first table those from
  // `firstTableStart` on and the heading rows it repeats (-1: the table is
  // whole). A part that starts inside a paragraph takes no spacing above or
  // first-line indent for it, and one that ends inside a paragraph no spacing
  // below it, as their pages show the paragraph running on; the empty
  // paragraph a document always ends with goes when the content ends with a
  // paragraph of its own.
  struct Edges {
    bool startsInParagraph = false, endsInParagraph = false;
    // The part starts where a page of the source did once the page before
    // was full: its first paragraph showed no spacing above it there.
    bool startsAtPageTop = false;
    int firstTableStart = -1, lastTableEnd = -1;
    // The row cut inside at either end (row `lastTableEnd - 1` of the last
    // table, row `firstTableStart` of the first): what each cell keeps.
    std::vector<CellCut> lastRowCuts, firstRowCuts;
  };
  void FitPart(const Edges& edges);

  // Lets a part of one page (`pages`) that lays out just longer end on it.
  // A source page filled to its last line may hold a hair more than the
  // page's body (a row running on, a paragraph cut there), a table's
  // repeated heading rows may take less room on the source's later pages
  // than at the top of a part, and the part saved and opened again may want
  // a hair more than its layout here. Its page gives up some of its bottom
  // margin, 7 mm at most (a line of text), and a third of a millimetre even
  // when it fits. Longer parts are left as they are: there the spare could
  // let lines move up onto the pages before. Answers whether the part ends
  // on its pages.
  bool EndOnPages(int pages);

  // Whether `pos` lies inside the text of a paragraph of the main text (not
  // at its start or end).
  bool InsideParagraph(int pos);

  // Whether a paragraph of the main text starting at `pos` starts a new page
  // of its own accord (a page break before it, or a page style of its own).
  bool BreaksPageAt(int pos);

  // Facts for checks and reports.
  const std::string& Path() const;
  int PageCount();
  int CharacterCount();  // characters of the main text, spaces included, paragraph ends not
  int Length();          // positions of the main text (paragraph ends included)
  std::string Text();    // main text, paragraphs ended by '\n', tables included
  int TableCount();
  int ImageCount();

  DocumentState& state() { return *state_; }

 private:
  WordApplication* app_;
  std::unique_ptr<DocumentState> state_;
};

class WordDocuments {
 public:
  explicit WordDocuments(WordApplication& app) : app_(app) {}
  // Opens a file read-only and makes it the active document; its selection is
  // at its start.
  WordDocument& Open(const std::string& path);
  // Creates an empty document and makes it the active one.
  WordDocument& Add();
  // Closes every open document without saving.
  void Close();
  int Count() const { return static_cast<int>(open_.size()); }

 private:
  friend class WordApplication;
  friend class WordDocument;
  WordApplication& app_;
  std::list<std::unique_ptr<WordDocument>> open_;  // activation order, active last
};

// The selection of the active document.
class WordSelection {
 public:
  explicit WordSelection(WordApplication& app) : app_(app) {}
  void WholeStory();
  void Copy();
  // Answers how many tracked changes of the content could not be kept as
  // changes: they arrive as if accepted.
  int Paste();
  void EndKey();                      // end of the current line
  void EndKey(int unit, int extend);  // wdStory, wdExtend: extend to the end of the main text
  void InsertBreak();                 // a page break
  void TypeParagraph();
  int Information(int what);                                 // wdNumberOfPagesInDocument
  void GoTo(int what, int which, const std::string& count);  // wdGoToPage, wdGoToAbsolute, "n"
  int Start();
  int End();
  void MoveRight(int unit, int count);  // wdWord
  void MoveLeft(int unit, int count);

 private:
  WordApplication& app_;
};

class WordCountDialog {
 public:
  explicit WordCountDialog(WordApplication& app) : app_(&app) {}
  void Execute();
  int CharactersIncludingSpaces() const { return characters_; }

 private:
  WordApplication* app_;
  int characters_ = 0;
};

class WordDialogs {
 public:
  explicit WordDialogs(WordApplication& app) : app_(app) {}
  WordCountDialog Item(int which);

 private:
  WordApplication& app_;
};

class WordApplication {
 public:
  // Starts `server` when it is not running yet.
  explicit WordApplication(OfficeServer& server);
  ~WordApplication();
  WordApplication(const WordApplication&) = delete;
  WordApplication& operator=(const WordApplication&) = delete;

  WordDocuments& Documents() { return documents_; }
  WordSelection& Selection() { return selection_; }
  WordDialogs& Dialogs() { return dialogs_; }
  WordDocument& ActiveDocument();
  // Closes every document without saving and stops the server.
  void Quit();

  OfficeServer& Server() { return server_; }

  struct Carrier;  // content copied, waiting to be pasted
  Carrier& carrier() { return *carrier_; }
  void ReleaseCarrier();

 private:
  friend class WordDocuments;
  friend class WordDocument;
  OfficeServer& server_;
  WordDocuments documents_;
  WordSelection selection_;
  WordDialogs dialogs_;
  std::unique_ptr<Carrier> carrier_;
};

}  // namespace pw::word

// Makes untrusted text safe to print on a terminal: the titles, names and values of packets,
// the banners of clients and the lines of text log files come from whoever wrote the log, and
// an escape sequence or a line break among them would reach the terminal as a command or
// forge a line of its own.
#pragma once

#include <string>
#include <string_view>

namespace deruz::silog {

// AText with every control character written as an escape: "\n", "\r", "\t", "\xNN" for the
// other C0 characters and DEL, "\u00NN" for the C1 characters (U+0080 to U+009F, which some
// terminals obey as commands), "\uNNNN" for the bidirectional overrides and isolates (which
// reorder what follows on the line) and the line and paragraph separators, and "\xNN" for
// each byte that is not part of valid UTF-8. Everything else, the backslash included, is
// copied, so Windows paths stay readable.
std::string EscapeText(std::string_view AText);

// The same escaping for text that arrives in pieces (a text log file read in blocks), where
// a UTF-8 sequence may be split between two pieces. Line breaks stay line breaks: LF, and CR
// LF as one, are written as LF; tabs are kept. Not thread-safe.
class TStreamEscaper {
  public:
    // The escaped text of APiece, holding back an incomplete sequence at its end.
    std::string Feed(std::string_view APiece);
    // What is still held back, escaped: call at the end of the text.
    std::string Finish();

  private:
    std::string FPending;
};

}  // namespace deruz::silog

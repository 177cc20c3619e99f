// Checks a terminal screen captured from tmux the way a user reads it:
//   screen_check --plain FILE --escaped FILE --size WxH --format dec|hex|pct
//                --marks colour|reverse [--whole] {--title T} {--expect REGEX}
// The plain capture must have no line wider than the terminal and no more
// lines than it; every titled universe panel must have its channel numbers
// down the side in steps of its row length, levels in the format, in their
// columns, up to the last channel its title names (all 512 with --whole);
// every --expect must match a line. The capture with escape sequences must
// mark changed cells (bold colour, or reverse video without any colour).
// Prints what is wrong and exits 1, or exits 0 in silence.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Options {
  std::string plainPath;
  std::string escapedPath;
  int width = 0;
  int height = 0;
  std::string format = "dec";
  std::string marks = "colour";
  bool whole = false;
  std::vector<std::string> titles;
  std::vector<std::string> expects;
};

std::vector<std::string> g_problems;

void Problem(const std::string& text) { g_problems.push_back(text); }

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// Decimal and percent levels are right-aligned in three columns, hex in
// two; the column check tells them apart, this one checks the digits.
bool ValidLevel(const std::string& token, const std::string& format) {
  if (format == "hex") return std::regex_match(token, std::regex("[0-9A-F]{2}"));
  if (!std::regex_match(token, std::regex("[0-9]{1,3}"))) return false;
  return std::atoi(token.c_str()) <= (format == "pct" ? 100 : 255);
}

struct Token {
  size_t end;
  std::string text;
};

std::vector<Token> Tokens(const std::string& text) {
  std::vector<Token> tokens;
  for (size_t at = 0; at < text.size();) {
    if (text[at] == ' ') {
      ++at;
      continue;
    }
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    tokens.push_back({end, text.substr(at, end - at)});
    at = end;
  }
  return tokens;
}

// Where a panel's title starts in its title line (npos: not there): the
// title at the start of a panel, followed by the range it shows.
size_t TitleColumn(const std::string& line, const std::string& title) {
  static const std::regex range("^ +((channels )?1-[0-9]+|\\(no room)");
  for (size_t at = line.find(title + " "); at != std::string::npos; at = line.find(title + " ", at + 1)) {
    bool panelStart = at == 0 || (at >= 2 && line.compare(at - 2, 2, "  ") == 0);
    if (panelStart && std::regex_search(line.substr(at + title.size()), range)) return at;
  }
  return std::string::npos;
}

void CheckPanel(const std::vector<std::string>& lines, const Options& options, const std::string& title) {
  size_t row = 0;
  size_t column = std::string::npos;
  for (; row < lines.size() && column == std::string::npos; ++row) column = TitleColumn(lines[row], title);
  if (column == std::string::npos) return Problem("no panel titled \"" + title + "\"");
  const std::string& titleLine = lines[row - 1];
  size_t end = titleLine.size() + 1000;
  for (const std::string& other : options.titles) {
    size_t at = TitleColumn(titleLine, other);
    if (at != std::string::npos && at > column && at < end) end = at;
  }
  std::smatch range;
  std::string rest = titleLine.substr(column + title.size());
  if (!std::regex_search(rest, range, std::regex("^ +(channels )?1-([0-9]+)( of 512|/512)?"))) {
    return Problem("panel \"" + title + "\" does not say which channels it shows: " + titleLine);
  }
  int last = std::atoi(range[2].str().c_str());
  if (options.whole && last != 512) Problem("panel \"" + title + "\" shows channels 1-" + std::to_string(last));
  size_t cell = options.format == "hex" ? 2 : 3;
  int perRow = 0;
  int expected = 1;
  int shownLast = 0;
  for (; row < lines.size() && column < lines[row].size(); ++row) {
    std::string segment = lines[row].substr(column, end - column);
    std::vector<Token> tokens = Tokens(segment);
    if (tokens.empty()) break;
    std::string where = "panel \"" + title + "\" row \"" + segment + "\": ";
    if (tokens[0].end != 3 || std::atoi(tokens[0].text.c_str()) != expected) {
      return Problem(where + "expected channel " + std::to_string(expected) + " down the side");
    }
    int cells = static_cast<int>(tokens.size()) - 1;
    if (perRow == 0) perRow = cells;
    if (cells < 1 || cells > perRow) return Problem(where + "wrong number of channels");
    for (size_t i = 1; i < tokens.size(); ++i) {
      if (tokens[i].end != 3 + i * (cell + 1)) return Problem(where + "a level out of its column");
      if (!ValidLevel(tokens[i].text, options.format)) {
        return Problem(where + "\"" + tokens[i].text + "\" is not a " + options.format + " level");
      }
    }
    shownLast = expected + cells - 1;
    if (cells < perRow && shownLast != 512) return Problem(where + "a short row before the universe ends");
    expected += perRow;
  }
  if (shownLast != last) {
    Problem("panel \"" + title + "\" names channels 1-" + std::to_string(last) + " but shows 1-" +
            std::to_string(shownLast));
  }
}

// Every highlighted run of text must be one level, and there must be some.
void CheckMarks(const std::string& escaped, const Options& options) {
  bool colour = options.marks == "colour";
  std::regex anyColour("\x1b\\[(3[0-7]|9[0-7]|38;[0-9;]+)m");
  if (!colour && std::regex_search(escaped, anyColour)) Problem("colour although NO_COLOR is set");
  std::regex mark(colour ? "(\x1b\\[1m)?\x1b\\[33m(\x1b\\[1m)?([^\x1b\n]*)" : "\x1b\\[7m([^\x1b\n]*)");
  int marked = 0;
  for (std::sregex_iterator it(escaped.begin(), escaped.end(), mark), done; it != done; ++it) {
    std::string text = (*it)[it->size() - 1].str();
    if (!std::regex_match(text, std::regex(" *[0-9A-F]{1,3}"))) {
      return Problem("a highlight on \"" + text + "\", which is not a level");
    }
    ++marked;
  }
  if (marked == 0)
    Problem(std::string("no changed channel is marked with ") + (colour ? "bold colour" : "reverse video"));
}

bool Parse(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--whole") {
      options->whole = true;
      continue;
    }
    if (i + 1 == argc) return false;
    std::string value = argv[++i];
    if (name == "--plain")
      options->plainPath = value;
    else if (name == "--escaped")
      options->escapedPath = value;
    else if (name == "--size")
      std::sscanf(value.c_str(), "%dx%d", &options->width, &options->height);
    else if (name == "--format")
      options->format = value;
    else if (name == "--marks")
      options->marks = value;
    else if (name == "--title")
      options->titles.push_back(value);
    else if (name == "--expect")
      options->expects.push_back(value);
    else
      return false;
  }
  return options->width > 0 && options->height > 0 && !options->plainPath.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, &options)) {
    fprintf(stderr,
            "usage: screen_check --plain F --escaped F --size WxH [--format F] [--marks M] "
            "[--whole] {--title T} {--expect RE}\n");
    return 2;
  }
  std::vector<std::string> lines = Lines(ReadFile(options.plainPath));
  if (static_cast<int>(lines.size()) > options.height) Problem("more lines than the terminal has rows");
  for (const std::string& line : lines) {
    if (static_cast<int>(line.size()) > options.width) Problem("a line wider than the terminal: " + line);
  }
  for (const std::string& title : options.titles) CheckPanel(lines, options, title);
  for (const std::string& expect : options.expects) {
    bool found = false;
    for (const std::string& line : lines) found = found || std::regex_search(line, std::regex(expect));
    if (!found) Problem("no line matches " + expect);
  }
  if (!options.escapedPath.empty()) CheckMarks(ReadFile(options.escapedPath), options);
  for (const std::string& problem : g_problems) printf("%s\n", problem.c_str());
  return g_problems.empty() ? 0 : 1;
}

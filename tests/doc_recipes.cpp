// SPDX-License-Identifier: MIT
// Reads recipes and tables out of README.md and the manual page: a marker line, then an
// indented code block, a table, or a literal display.
#include "doc_recipes.h"

#include <fstream>

namespace
{

// The text a line of a literal display renders as: the escapes the page uses
// for a minus, a backslash and a zero-width break.
std::string roff_text(const std::string &line)
{
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            text += line[i];
            continue;
        }
        const char c = line[++i];
        if (c == '-')
            text += '-';
        else if (c == 'e')
            text += '\\';
        else if (c != '&')
            text.append("\\").append(1, c); // left as written: the test sees it
    }
    return text;
}

// The literal displays (.Bd -literal ... .Ed) of the roff page at path that
// follow a comment line '.\" KIND: NAME'.
std::vector<DocRecipe> roff_recipes(const std::string &path, const std::string &kind)
{
    const std::string marker = ".\\\" " + kind + ": ";
    std::vector<DocRecipe> recipes;
    std::ifstream in(path);
    enum { Outside, Marked, Inside } where = Outside;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(marker, 0) == 0 && line.size() > marker.size()) {
            recipes.push_back({line.substr(marker.size()), ""});
            where = Marked;
        } else if (where == Marked) {
            // The display must follow its marker at once.
            where = line.rfind(".Bd -literal", 0) == 0 ? Inside : Outside;
        } else if (where == Inside) {
            if (line == ".Ed")
                where = Outside;
            else
                recipes.back().text += roff_text(line) + "\n";
        }
    }
    return recipes;
}

} // namespace

std::vector<DocRecipe> doc_recipes(const std::string &path, const std::string &kind)
{
    if (path.size() > 2 && path.compare(path.size() - 2, 2, ".8") == 0)
        return roff_recipes(path, kind);
    const std::string open = "<!-- " + kind + ": ";
    const std::string close = " -->";
    std::vector<DocRecipe> recipes;
    std::ifstream in(path);
    bool in_block = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(open, 0) == 0 && line.size() > open.size() + close.size() &&
            line.compare(line.size() - close.size(), close.size(), close) == 0) {
            recipes.push_back(
                {line.substr(open.size(), line.size() - open.size() - close.size()), ""});
            in_block = true;
            continue;
        }
        if (!in_block)
            continue;
        if (line.rfind("    ", 0) == 0) {
            recipes.back().text += line.substr(4) + "\n";
        } else if (!line.empty() || !recipes.back().text.empty()) {
            // A blank line may stand between the marker and the block, or
            // inside the block; anything else ends it.
            if (line.empty())
                recipes.back().text += "\n";
            else
                in_block = false;
        }
    }
    for (DocRecipe &r : recipes)
        while (r.text.size() > 1 && r.text[r.text.size() - 1] == '\n' &&
               r.text[r.text.size() - 2] == '\n')
            r.text.pop_back();
    return recipes;
}

namespace
{

std::string trim(const std::string &s)
{
    const std::size_t b = s.find_first_not_of(' ');
    const std::size_t e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

} // namespace

std::vector<std::vector<std::string>> doc_table(const std::string &path, const std::string &name)
{
    const std::string marker = "<!-- table: " + name + " -->";
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    bool found = false;
    int seen = 0;
    for (std::string line; std::getline(in, line);) {
        if (!found) {
            found = line == marker;
            continue;
        }
        if (line.empty() && seen == 0)
            continue;
        if (line.empty() || line[0] != '|')
            break;
        if (++seen <= 2) // the header and the rule under it
            continue;
        std::vector<std::string> cells;
        std::size_t from = 1;
        for (std::size_t bar = line.find('|', from); bar != std::string::npos;
             bar = line.find('|', from)) {
            cells.push_back(trim(line.substr(from, bar - from)));
            from = bar + 1;
        }
        rows.push_back(cells);
    }
    return rows;
}

std::vector<std::vector<std::string>> doc_command_lines(const std::string &cell)
{
    std::vector<std::vector<std::string>> lines;
    std::size_t open = cell.find('`');
    while (open != std::string::npos) {
        const std::size_t close = cell.find('`', open + 1);
        if (close == std::string::npos)
            break;
        const std::string span = cell.substr(open + 1, close - open - 1);
        std::vector<std::string> words;
        for (std::size_t i = 0; i < span.size();) {
            if (span[i] == ' ') {
                ++i;
                continue;
            }
            std::string word;
            while (i < span.size() && span[i] != ' ') {
                if (span[i] == '"') {
                    const std::size_t end = span.find('"', i + 1);
                    word += span.substr(i + 1, end - i - 1);
                    i = end == std::string::npos ? span.size() : end + 1;
                } else {
                    word += span[i++];
                }
            }
            words.push_back(word);
        }
        lines.push_back(words);
        open = cell.find('`', close + 1);
    }
    if (lines.empty())
        lines.emplace_back();
    return lines;
}

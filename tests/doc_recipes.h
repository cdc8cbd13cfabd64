// SPDX-License-Identifier: MIT
// The shell recipes and tables that README.md and the manual page give, read from them so that
// the tests check them as written.
#ifndef PIXVANE_DOC_RECIPES_H
#define PIXVANE_DOC_RECIPES_H

#include <string>
#include <vector>

struct DocRecipe {
    std::string name; // as the marker names it
    std::string text; // the code block, indentation removed
};

// The code blocks of the Markdown file at path that follow a line
// "<!-- KIND: NAME -->", in order; empty when the file cannot be read. A
// path ending in ".8" is a roff page: there a comment line '.\" KIND: NAME'
// marks the literal display (.Bd -literal ... .Ed) right after it, read as
// it renders (\- is -, \e is a backslash, \& nothing).
// README marks scripts that only look at the tool's output as "recipe", the
// ones that change the system (/dev, mounts) as "board", and the ones that
// look at the system without changing it as "look".
std::vector<DocRecipe> doc_recipes(const std::string &path, const std::string &kind = "recipe");

// The rows of the Markdown table that follows a line "<!-- table: NAME -->"
// in the file at path, each as its cells with the surrounding blanks
// trimmed; the header row and the rule under it are left out.
std::vector<std::vector<std::string>> doc_table(const std::string &path, const std::string &name);

// The command lines a table cell gives as code spans: `16 32` is the two
// words 16 and 32, `" 16"` the one word " 16", `""` an empty word. A cell
// without a code span gives one empty command line (no argument at all).
std::vector<std::vector<std::string>> doc_command_lines(const std::string &cell);

#endif

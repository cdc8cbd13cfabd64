// SPDX-License-Identifier: MIT
// The shell recipes that README.md gives, read from it so that the tests run them as written.
#ifndef PIXVANE_DOC_RECIPES_H
#define PIXVANE_DOC_RECIPES_H

#include <string>
#include <vector>

struct DocRecipe {
    std::string name; // as the marker names it
    std::string text; // the code block, indentation removed
};

// The code blocks of the Markdown file at path that follow a line
// "<!-- recipe: NAME -->", in order; empty when the file cannot be read.
std::vector<DocRecipe> doc_recipes(const std::string &path);

#endif

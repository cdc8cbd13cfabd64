// SPDX-License-Identifier: MIT
// Reads the recipes out of README.md: a marker line, then an indented code block.
#include "doc_recipes.h"

#include <fstream>

std::vector<DocRecipe> doc_recipes(const std::string &path)
{
    static const std::string open = "<!-- recipe: ";
    static const std::string close = " -->";
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

#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Prints VAR=value for each VAR of a recipe, as BitBake expands it, from one parse:
# bitbake-getvar answers one variable a parse, and a parse of oe-core costs minutes.
#   getvars.py RECIPE VAR...   (in a build directory, bitbake's bin/ in PATH)
# Whitespace inside a value is squeezed to single spaces.
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(shutil.which("bitbake")), "..", "lib"))
import bb.tinfoil  # noqa: E402

recipe, names = sys.argv[1], sys.argv[2:]
with bb.tinfoil.Tinfoil() as tinfoil:
    tinfoil.prepare(config_only=False, quiet=2)
    d = tinfoil.parse_recipe(recipe)
    for name in names:
        var, _, flag = name.partition("[")
        value = d.getVarFlag(var, flag.rstrip("]")) if flag else d.getVar(var)
        print("%s=%s" % (name, " ".join((value or "").split())))

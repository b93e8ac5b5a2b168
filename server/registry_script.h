// Registry scripts: a text language for a tree of registry keys with their default and named
// values, applied in the register direction (create and write) or the unregister direction
// (delete what the script names, except what it marks NoRemove). Symbols (%NAME%) are
// substituted into the text before it is parsed (script_symbols.h); the text is read token by
// token (script_tokens.h), one root block after another.
#ifndef TELVARIO_SERVER_REGISTRY_SCRIPT_H
#define TELVARIO_SERVER_REGISTRY_SCRIPT_H

#include "script_symbols.h"
#include "windows_api.h"

namespace telvario {

// Runs narrow script text (NUL-terminated, in the ANSI code page) with the symbols given. A root
// block that fails in the register direction is undone before the failure is given back.
HRESULT RunScript(const char* text, const ScriptSymbols& symbols, bool doRegister);

// Deletes a key with its whole tree, children first; the Win32 result.
LONG DeleteKeyTree(HKEY parent, const char* name);

}  // namespace telvario

#endif

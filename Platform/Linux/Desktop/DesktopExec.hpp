#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravolet::platform {

// The arguments a desktop entry's Exec value stands for (its string escapes
// already resolved, as the catalogue gives it): split at unquoted spaces, a
// double-quoted argument taken whole with its \" \` \$ \\ escapes resolved,
// and every field code (%f, %U, %i, ...) removed, since Ravolet opens an
// application with no file; "%%" is a literal "%". None when the value is
// empty or malformed (an unclosed quote, a "%" at the end). Characters the
// rules reserve but many entries leave unquoted are taken literally: no
// shell ever sees them.
std::optional<std::vector<std::string>> execArguments(std::string_view exec);

// The executable a command's first argument names: itself when it holds a
// "/", else the first executable file of that name in the folders of `path`
// (a PATH value). None when there is none.
std::optional<std::string> findProgram(const std::string& name, std::string_view path);

} // namespace ravolet::platform

// File names read from disk are untrusted. Before a name becomes part of an
// item path or an output path it is made safe: no separators, no drive
// colon, no control characters or other characters Windows cannot store, no
// "." or ".." component, no reserved device name. The same text goes into
// the found item and onto the disk, so what the user sees is what is written.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

std::u16string SafeName(std::u16string_view name);
// The same into `out` (its buffer reused); `name` must not point into `out`.
void AssignSafeName(std::u16string& out, std::u16string_view name);

// Appends "\" + SafeName(name) to a path unless the result would pass
// `limit` units; returns false (and leaves the path alone) when it would.
bool AppendComponent(std::u16string& path, std::u16string_view name, size_t limit);

}  // namespace kestrel

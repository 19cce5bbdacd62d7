#pragma once
// Marks what the library exports. Everything else is hidden, so a shared
// libmorvent offers only what the public headers declare.
#define MORVENT_API __attribute__((visibility("default")))

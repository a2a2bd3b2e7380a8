#pragma once
// GObject signals take their handlers through one plain function pointer
// type, whatever the handler's real signature.

#include <glib-object.h>

namespace varnholt_app {

template <typename F>
GCallback asCallback(F* f) {
  return reinterpret_cast<GCallback>(reinterpret_cast<void (*)()>(f));
}

}  // namespace varnholt_app

// Slots shared by the module's heap types, whose instances hold C++ values
// and no Python references.
#pragma once

#include "binding/python_api.h"

namespace vestle::binding {

// Visits only the heap type, as every instance must.
inline int traverse_type_only(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  return 0;
}

// Nothing to break: no Python references are held.
inline int clear_nothing(PyObject* /*self*/) { return 0; }

// Untracks the instance, lets `destroy_members` end its C++ members, frees
// the memory, then drops the type reference.
template <typename DestroyMembers>
void dealloc_native_instance(PyObject* self, DestroyMembers destroy_members) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  destroy_members(self);
  type->tp_free(self);
  Py_DECREF(type);
}

}  // namespace vestle::binding

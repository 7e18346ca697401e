// The one place where engine errors become Python exceptions.
#pragma once

#include "binding/python_api.h"
#include "error/io_error.h"
#include "error/vestle_error.h"

namespace vestle::binding {

// Raises plain OSError carrying the error's text, whatever the errno.
void raise_vestle_error(const VestleError& error);

// Raises the OSError subclass matching the error's kind (FileNotFoundError,
// PermissionError, ...), or MemoryError, carrying the error's text.
void raise_io_error(const IoError& error);

}  // namespace vestle::binding

// The library's diagnostic texts in Python: each goes to the logger "pelk"
// at level WARNING (the logger has a NullHandler, so a program prints
// nothing unless it configures logging), and the last one a thread met in a
// call becomes the text of the exception that call raises.
#ifndef PELK_PYTHON_DIAGNOSTICS_H
#define PELK_PYTHON_DIAGNOSTICS_H

#include <string>

#include <pybind11/pybind11.h>

// Forgets the thread's last text: called before each call into the library.
void ForgetDiagnostic();
// The last text of the thread's call as one line, "" when there was none;
// forgotten once taken.
std::string TakeDiagnostic();

// Routes the library's texts to the logger and stops routing them into
// Python when the interpreter exits.
void DefineDiagnostics(pybind11::module_& module);

#endif

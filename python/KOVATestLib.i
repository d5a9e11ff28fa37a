// Python binding of the harness: standard (not builtin) SWIG mode without thread
// support, so every call keeps the interpreter lock, including the harness's waits.
// KOVA::IMessage and KOVA::ConsumeStatusPtr are never declared to SWIG: Python only
// holds and passes pointers to them.
%module KOVATestLib

%{
#include "KOVATest.h"
%}

%include <std_string.i>
%include <std_vector.i>
// Brings the module constant SHARED_PTR_DISOWN (0) with it.
%include <std_shared_ptr.i>

%template(IntVector) std::vector<int>;
%template(DoubleVector) std::vector<double>;
%template(StringVector) std::vector<std::string>;

%include "KOVATest.h"

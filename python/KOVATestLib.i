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

// The message list of product_msg and product_msg_async: a StringVector or a list of
// str. SWIG alone takes any sequence of str, so a bare str would go as one message
// per character; it now fails overload resolution with the usual TypeError.
%typemap(typecheck, precedence=SWIG_TYPECHECK_VECTOR, noblock=1) std::vector<std::string> msgs {
  $1 = PyList_Check($input) ||
       SWIG_IsOK(SWIG_ConvertPtr($input, 0, swig::type_info<std::vector<std::string> >(), SWIG_POINTER_NO_NULL));
  if ($1) $1 = SWIG_CheckState(swig::asptr($input, (std::vector<std::string>**)0));
}

%include "KOVATest.h"

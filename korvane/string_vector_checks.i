/* Checks around StringVector's functions that SWIG's vector library leaves
 * to the C++ library, where a bad argument crashes or aborts the process.
 * Declared before the StringVector template is instantiated. */

%fragment("korvane_vector_positions", "header", fragment="SwigPyIterator_T",
          fragment="korvane_names") {
namespace korvane_vector {
  typedef std::vector<std::string> Strings;

  // True when iter stands inside vec as it is now (at its end only when
  // allow_end): an iterator of another vector, or of this one before it
  // changed size, is refused.
  inline bool position_ok(Strings *vec, swig::SwigPyIterator *iter, bool allow_end)
  {
    swig::SwigPyIterator_T<Strings::iterator> *at =
      dynamic_cast<swig::SwigPyIterator_T<Strings::iterator> *>(iter);
    return at && at->position_in(vec->begin(), vec->end(), allow_end);
  }

  // erase() needs an element at the position; insert() may insert at the end.
  constexpr bool allows_end(const char *function)
  {
    return !korvane_starts_with(function, "StringVector_erase");
  }

  // Gives an unbounded iterator that a vector function returned the range of
  // its vector, so that reading through it can be checked.
  template <typename Position>
  void place(PyObject *result, Position begin, Position end)
  {
    swig::SwigPyIterator *made = 0;
    if (!SWIG_IsOK(SWIG_ConvertPtr(result, (void **)&made, swig::SwigPyIterator::descriptor(), 0)) || !made)
      return;
    swig::SwigPyIterator_T<Position> *at = dynamic_cast<swig::SwigPyIterator_T<Position> *>(made);
    if (at)
      at->set_range(begin, end);
  }

  // PySlice_GetIndices leaves the indices unset for bounds that are not
  // integers, so such slices are refused before it runs.
  inline bool slice_bounds_ok(PyObject *slice)
  {
    PySliceObject *s = (PySliceObject *)slice;
    PyObject *bounds[] = { s->start, s->stop, s->step };
    for (PyObject *bound : bounds)
      if (bound != Py_None && !PyLong_Check(bound))
        return false;
    return true;
  }
}
}

%typemap(check, noblock=1, fragment="korvane_vector_positions") PySliceObject * {
  if (!korvane_vector::slice_bounds_ok((PyObject *)$1)) {
    SWIG_exception_fail(SWIG_TypeError, "slice indices must be integers or None");
  }
}

/* Iterator positions: SWIG hands the C++ position to erase() and insert()
 * unchecked, so one outside this vector would corrupt memory. */
%typemap(check, noblock=1, fragment="korvane_vector_positions") std::vector<std::string>::iterator pos {
  if (!korvane_vector::position_ok(arg1, iter$argnum, korvane_vector::allows_end("$symname"))) {
    SWIG_exception_fail(SWIG_ValueError, "in method '$symname', argument $argnum: iterator position outside this vector");
  }
}
/* A range (first, last): both inside the vector or at its end, in order. */
%typemap(check, noblock=1, fragment="korvane_vector_positions") std::vector<std::string>::iterator first {
  if (!korvane_vector::position_ok(arg1, iter$argnum, true)) {
    SWIG_exception_fail(SWIG_ValueError, "in method '$symname', argument $argnum: iterator position outside this vector");
  }
}
%typemap(check, noblock=1, fragment="korvane_vector_positions") std::vector<std::string>::iterator last {
  if (!korvane_vector::position_ok(arg1, iter$argnum, true) || arg$argnum < arg2) {
    SWIG_exception_fail(SWIG_ValueError, "in method '$symname', argument $argnum: iterator position outside this vector");
  }
}

%typemap(ret, noblock=1, fragment="korvane_vector_positions") std::vector<std::string>::iterator {
  korvane_vector::place($result, arg1->begin(), arg1->end());
}
%typemap(ret, noblock=1, fragment="korvane_vector_positions") std::vector<std::string>::reverse_iterator {
  korvane_vector::place($result, arg1->rbegin(), arg1->rend());
}

/* Element access on an empty vector: IndexError instead of reading nothing. */
%define KORVANE_NOT_EMPTY(method, text)
%exception std::vector<std::string>::method {
  if (arg1->empty()) {
    SWIG_exception_fail(SWIG_IndexError, text);
  }
  $action
}
%enddef
KORVANE_NOT_EMPTY(front, "front from empty container")
KORVANE_NOT_EMPTY(back, "back from empty container")
KORVANE_NOT_EMPTY(pop_back, "pop_back from empty container")

/* Counts: std::vector throws length_error above its maximum length and
 * bad_alloc when the memory is not there; both become Python exceptions. */
%define KORVANE_COUNTED(method)
%exception std::vector<std::string>::method {
  try {
    $action
  } catch (const std::length_error &) {
    SWIG_exception_fail(SWIG_OverflowError, "count above the maximum length of a StringVector");
  } catch (const std::bad_alloc &) {
    SWIG_exception_fail(SWIG_MemoryError, "not enough memory for the StringVector");
  }
}
%enddef
KORVANE_COUNTED(vector)
KORVANE_COUNTED(resize)
KORVANE_COUNTED(reserve)
KORVANE_COUNTED(assign)
KORVANE_COUNTED(insert)

/* Comparing or subtracting iterators of different kinds (forward and
 * reverse) or of different vectors: the operator returns NotImplemented, so
 * Python applies its own fallback (== is then False, - a TypeError). */
%define KORVANE_NOT_IMPLEMENTED_ON_MISMATCH(method)
%exception swig::SwigPyIterator::method {
  try {
    $action
  } catch (const std::invalid_argument &) {
    SWIG_fail;
  }
}
%enddef
KORVANE_NOT_IMPLEMENTED_ON_MISMATCH(operator==)
KORVANE_NOT_IMPLEMENTED_ON_MISMATCH(operator!=)
KORVANE_NOT_IMPLEMENTED_ON_MISMATCH(operator-)

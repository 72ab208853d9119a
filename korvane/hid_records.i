/* What the hidapi pass-through functions check before hidapi runs.
 *
 * - A None device handle or buffer: TypeError with the argument's message
 *   (hid_close takes None and does nothing).
 * - A length larger than the buffer behind a pointer object whose size the
 *   module knows (a korPacket's dat holds 65 bytes, an attribute value's
 *   storage as wide string, the strings of enumeration records): ValueError.
 *   Pointers of unknown origin are passed on as they are.
 * - Enumeration lists belong to hidapi: hid_free_enumeration takes only the
 *   first record of a list that hid_enumerate returned and that is not freed
 *   yet; its records cannot be deleted one by one, and their path, string and
 *   next members cannot be replaced (hidapi frees what they point to).
 */

%fragment("korvane_hid_records", "header") {
%#include <cstdint>
%#include <cstring>
%#include <cwchar>
%#include <map>
namespace korvane_hid {
  // Every record of every live enumeration list, mapped to its list's first
  // record. Used only under the interpreter lock.
  static std::map<const hid_device_info *, const hid_device_info *> &list_records()
  {
    static std::map<const hid_device_info *, const hid_device_info *> records;
    return records;
  }

  // Buffers the module handed out pointers into: first byte -> size in bytes.
  static std::map<std::uintptr_t, size_t> &buffers()
  {
    static std::map<std::uintptr_t, size_t> known;
    return known;
  }

  inline void remember_buffer(const void *start, size_t bytes)
  {
    if (start)
      buffers()[reinterpret_cast<std::uintptr_t>(start)] = bytes;
  }

  // Forgets the buffers that start inside an object that is going away.
  inline void forget_buffers(const void *object, size_t bytes)
  {
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(object);
    buffers().erase(buffers().lower_bound(first), buffers().lower_bound(first + bytes));
  }

  // True when count units of unit bytes fit behind pointer (or its size is
  // unknown).
  inline bool fits(const void *pointer, size_t count, size_t unit)
  {
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(pointer);
    std::map<std::uintptr_t, size_t>::const_iterator next = buffers().upper_bound(at);
    if (next == buffers().begin())
      return true;
    --next;
    if (at >= next->first + next->second)
      return true;
    return count <= (next->first + next->second - at) / unit;
  }

  inline void remember_wide(const wchar_t *text)
  {
    if (text)
      remember_buffer(text, (std::wcslen(text) + 1) * sizeof(wchar_t));
  }

  inline void remember_list(const hid_device_info *first)
  {
    for (const hid_device_info *record = first; record; record = record->next) {
      list_records()[record] = first;
      remember_wide(record->serial_number);
      remember_wide(record->manufacturer_string);
      remember_wide(record->product_string);
    }
  }

  inline void forget_list(const hid_device_info *first)
  {
    for (const hid_device_info *record = first; record; record = record->next) {
      list_records().erase(record);
      const wchar_t *texts[] = { record->serial_number, record->manufacturer_string, record->product_string };
      for (const wchar_t *text : texts)
        if (text)
          forget_buffers(text, 1);
    }
  }

  inline bool in_list(const hid_device_info *record)
  {
    return list_records().count(record) != 0;
  }

  inline bool is_list_head(const hid_device_info *record)
  {
    std::map<const hid_device_info *, const hid_device_info *>::const_iterator found =
      list_records().find(record);
    return found != list_records().end() && found->second == record;
  }
}
}

%fragment("korvane_hid_records");

/* Device handles: every function but hid_close needs one. */
%typemap(check, noblock=1) hid_device *dev {
  if (!$1) {
    %argument_fail(SWIG_TypeError, "$type", $symname, $argnum);
  }
}
%exception hid_close {
  if (arg1) {
    $action
  }
}

/* Buffers and their lengths (the buffer is argument 2 of these functions). */
%typemap(check, noblock=1) const unsigned char *data, unsigned char *data {
  if (!$1) {
    %argument_fail(SWIG_TypeError, "$type", $symname, $argnum);
  }
}
%typemap(check, noblock=1) size_t length {
  if (!korvane_hid::fits(arg2, $1, 1)) {
    SWIG_exception_fail(SWIG_ValueError, "in method '$symname', argument $argnum: length larger than the buffer behind argument 2");
  }
}
%typemap(check, noblock=1) (wchar_t *string, size_t maxlen) {
  if (!$1) {
    %argument_fail(SWIG_TypeError, "$1_type", $symname, $argnum);
  }
  if (!korvane_hid::fits($1, $2, sizeof(wchar_t))) {
    SWIG_exception_fail(SWIG_ValueError, "in method '$symname': maxlen larger than the wide-string buffer");
  }
}

/* Enumeration lists. */
%exception hid_enumerate {
  $action
  korvane_hid::remember_list(result);
}
%exception hid_free_enumeration {
  if (arg1) {
    if (!korvane_hid::is_list_head(arg1)) {
      SWIG_exception_fail(SWIG_ValueError, "in method 'hid_free_enumeration', argument 1: not the first record of a live list from hid_enumerate");
    }
    korvane_hid::forget_list(arg1);
    $action
  }
}
%exception hid_device_info::~hid_device_info {
  if (korvane_hid::in_list(arg1)) {
    SWIG_exception_fail(SWIG_ValueError, "in method 'delete_hid_device_info', argument 1: the record belongs to an enumeration list; hid_free_enumeration frees it");
  }
  $action
}

/* Members of a record (arg1): a None record stores nothing. A path is kept
 * as a private copy allocated as hidapi allocates its own (it frees paths
 * with free()). */
%typemap(memberin, noblock=1) char *path {
  if (arg1) {
    if (korvane_hid::in_list(arg1)) {
      SWIG_exception_fail(SWIG_ValueError, "in method '$symname', argument 1: the record belongs to an enumeration list, whose strings hidapi frees");
    }
    char *copy = $input ? strdup($input) : 0;
    if ($input && !copy) {
      SWIG_exception_fail(SWIG_MemoryError, "in method '$symname': no memory for the path");
    }
    free($1);
    $1 = copy;
  }
}
%typemap(memberin, noblock=1) wchar_t *serial_number, wchar_t *manufacturer_string,
    wchar_t *product_string, hid_device_info *next {
  if (arg1) {
    if (korvane_hid::in_list(arg1)) {
      SWIG_exception_fail(SWIG_ValueError, "in method '$symname', argument 1: the record belongs to an enumeration list, whose strings and links hidapi frees");
    }
    $1 = $input;
  }
}

/* The Python extension module _korvane and its proxy module korvane.
 *
 * SWIG 4.1 generates both from this file (see CMakeLists.txt). The order of
 * the includes below is the order of the module's function table: the string
 * vector and its iterator, the hidapi pass-through functions, then the
 * library's classes. The module's 52 integer constants come from kordefs.h.
 *
 * Where SWIG 4.1's output differs from the module this project publishes,
 * the correction sits next to what it corrects, with a comment saying what a
 * user of the module sees:
 *   swig-patches/     SWIG's own runtime and library files, patched at
 *                     configure time: pointer object, argument unpacking
 *                     (pyrun.swg), overload error texts (pyerrors.swg),
 *                     iterator moves (pyiterators.swg), slices
 *                     (pycontainer.swg)
 *   module_frame.i    function table, type entries, proxy module prologue
 *   null_checks.i     None where the library would dereference it
 *   string_vector.i   StringVector and SwigPyIterator
 *   hidapi.i          hidapi's record and functions
 *   library.i         the library's classes and constants
 */
%module(threads="1") korvane

%include "module_frame.i"
%include "null_checks.i"
/* Calls run without the interpreter lock while they may wait on a device
 * or on hidapi (threads="1" above), so other Python threads go on meanwhile;
 * calls on one connection still run one at a time (the library's call
 * lock). What never waits keeps the lock: the string vector here, and the
 * value types and lookups marked in hidapi.i and library.i. */
%nothread std::vector<std::string>::~vector;
%nothread;
%include "string_vector.i"
%clearnothread;
%include "hidapi.i"
%include "library.i"

/* Python-side additions of the proxy classes (no module functions). */
%include "python_extras.i"

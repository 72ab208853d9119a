/* The module frame: function table, type entries and the proxy module's
 * prologue, where SWIG 4.1.0's output needs a correction. The pointer object
 * and argument unpacking are corrected by swig-patches/pyrun.swg.patch, the
 * overload error texts by swig-patches/pyerrors.swg.patch. */

/* -fastproxy registers SWIG_PyStaticMethod_New next to
 * SWIG_PyInstanceMethod_New. The module publishes only the latter: after
 * import, _korvane has no SWIG_PyStaticMethod_New. This block runs right
 * after SWIG's own set-up of the module, before the constants are stored. */
%init %{
  if (PyDict_DelItemString(d, "SWIG_PyStaticMethod_New") < 0) {
    PyErr_Clear();
  }
%}

/* The generated proxy module reads _korvane.SWIG_PyStaticMethod_New at
 * import (for static methods, of which there are none); it gets a stand-in
 * for the moment of its prologue, removed again right after. */
%pythonbegin %{
if __package__ or "." in __name__:
    from . import _korvane
else:
    import _korvane
_korvane.SWIG_PyStaticMethod_New = staticmethod
%}
%pythoncode %{
del _korvane.SWIG_PyStaticMethod_New
%}

/* Type entries. SWIG lists the aliases of an entry alphabetically and shows
 * the last one as the type's name; the module lists them in this order, so
 * that repr() shows a packet's dat as 'uint8_t *', a device handle as
 * 'hid_device *' and the enumerations as 'PinMode *' and so on. */
%init %{
  {
    static const struct {
      swig_type_info *entry;
      const char *names;
    } korvane_type_names[] = {
      { &_swigt__p_hid_device_, "hid_device_ *|hid_device *" },
      { &_swigt__p_unsigned_char, "unsigned char *|uint_least8_t *|uint_fast8_t *|uint8_t *" },
      { &_swigt__p_signed_char, "signed char *|int_least8_t *|int_fast8_t *|int8_t *" },
      { &_swigt__p_unsigned_short, "unsigned short *|uint_least16_t *|uint16_t *" },
      { &_swigt__p_short, "short *|int_least16_t *|int16_t *" },
      { &_swigt__p_unsigned_int,
        "uintptr_t *|uint_least32_t *|uint_fast32_t *|uint32_t *|unsigned int *|uint_fast16_t *" },
      { &_swigt__p_int, "intptr_t *|int *|int_least32_t *|int_fast32_t *|int32_t *|int_fast16_t *" },
      { &_swigt__p_unsigned_long_long,
        "uint_least64_t *|uint_fast64_t *|uint64_t *|unsigned long long *|uintmax_t *" },
      { &_swigt__p_long_long, "int_least64_t *|int_fast64_t *|int64_t *|long long *|intmax_t *" },
      { &_swigt__p_OperationCode, "enum OperationCode *|OperationCode *" },
      { &_swigt__p_ReturnCode, "enum ReturnCode *|ReturnCode *" },
      { &_swigt__p_AttributionPermission, "enum AttributionPermission *|AttributionPermission *" },
      { &_swigt__p_AttributionProperty, "enum AttributionProperty *|AttributionProperty *" },
      { &_swigt__p_AttGpioHw, "enum AttGpioHw *|AttGpioHw *" },
      { &_swigt__p_PinMode, "enum PinMode *|PinMode *" },
      { &_swigt__p_AttI2cHw, "enum AttI2cHw *|AttI2cHw *" },
    };
    for (size_t i = 0; i < sizeof(korvane_type_names) / sizeof(korvane_type_names[0]); ++i) {
      korvane_type_names[i].entry->str = korvane_type_names[i].names;
    }
  }
%}

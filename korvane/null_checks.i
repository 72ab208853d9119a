/* None where the wrapped code would dereference a null pointer.
 *
 * A pointer argument accepts None as a null pointer. SWIG's generated code
 * then calls the method on it, or copies the object behind it, and the
 * process crashes. These checks run after all arguments are converted (so a
 * wrong later argument still raises its own conversion error first) and
 * refuse None with the usual argument error:
 *   TypeError "in method 'X', argument N of type 'T'".
 */

%fragment("korvane_names", "header") {
/* Compile-time tests on a wrapper's name ("$symname" in a typemap). */
static constexpr bool korvane_starts_with(const char *text, const char *prefix)
{
  return *prefix == '\0' || (*text == *prefix && korvane_starts_with(text + 1, prefix + 1));
}

static constexpr size_t korvane_length(const char *text)
{
  return *text ? 1 + korvane_length(text + 1) : 0;
}

/* Functions whose object argument may be None: a member setter then stores
 * nothing (SWIG's generated setters test the object), and a destructor has
 * nothing to delete. The packet's array setter is the exception: SWIG's
 * element-by-element copy does not test the object, so None is refused. */
static constexpr bool korvane_null_self_allowed(const char *function)
{
  return korvane_starts_with(function, "delete_") ||
         (korvane_length(function) > 4 &&
          korvane_starts_with(function + korvane_length(function) - 4, "_set") &&
          !korvane_starts_with(function, "korPacket_dat_set"));
}
}

/* The object of a member function, getter included. */
%typemap(check, noblock=1, fragment="korvane_names") SWIGTYPE *self {
  if (!$1 && !korvane_null_self_allowed("$symname")) {
    %argument_fail(SWIG_TypeError, "$type", $symname, $argnum);
  }
}

/* Objects the library keeps and uses later: the device link of a service,
 * the service of a block, the board of a pin or channel handle, and the
 * attribute a read fills in. */
%typemap(check, noblock=1) KorDevice *device, KorService *service, Vanta *board,
    Attribute *attribute {
  if (!$1) {
    %argument_fail(SWIG_TypeError, "$type", $symname, $argnum);
  }
}

/* Blocks assigned to a model's member (gpiohw, adchw, i2chw) are copied. */
%typemap(check, noblock=1) GpioHw *gpiohw, AdcHw *adchw, I2cHw *i2chw {
  if (!$1) {
    %argument_fail(SWIG_TypeError, "$type", $symname, $argnum);
  }
}

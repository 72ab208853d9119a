/* The library's published classes and constants, in the order of the
 * module's function table. Everything public in the headers that the module
 * does not publish is ignored here. */

%{
#include <system_error>

#include "kordefs.h"
#include "KorDevice.h"
#include "KorDeviceManager.h"
#include "korPacket.h"
#include "Attvalue.h"
#include "Attribute.h"
#include "KorService.h"
#include "KorCore.h"
#include "Vanta.h"
#include "Brondel.h"
#include "Dmm.h"
#include "Adc.h"
#include "AdcHw.h"
#include "GpioHw.h"
#include "I2cHw.h"
#include "Pin.h"

/* The headers declare the library in namespace korvane, which they open
 * only outside SWIG: SWIG reads the declarations flat, so the module's
 * functions, type names and messages name the classes as they always have,
 * and the wrapper's code finds them through this directive. */
using namespace korvane;
%}

%include <stdint.i>

/* SWIG's parser does not know alignas (Attvalue's storage); the export
 * mark of the public classes means nothing to the wrappers. */
#define alignas(n)
#define KORVANE_API

/* Constants: SWIG would publish a C++ `const int` as a read-only variable of
 * a 'cvar' object; the module publishes each as a plain int in its
 * dictionary, so kordefs.h is read with `const` meaning %constant. The
 * enumeration members become ints too; the enumeration types do not. */
%define const %constant %enddef
/* The pin levels are kHigh and kLow in C++ (never the HIGH and LOW macros
 * that code using the library may define); the module keeps their names. */
%rename(HIGH) kHigh;
%rename(LOW) kLow;
%include "kordefs.h"
#undef const

/* Type entries for the seven enumerations (SWIG makes none for enumerations
 * that only pass by value); their names are set in module_frame.i. */
%types(enum OperationCode *, enum ReturnCode *, enum AttributionPermission *,
       enum AttributionProperty *, enum AttGpioHw *, enum PinMode *, enum AttI2cHw *);

/* Borrowed objects. A service borrows its device link, a block its service,
 * a pin or channel handle its board, and a model's block is a view into the
 * model. The library does not keep those objects alive, so a temporary such
 * as KorService(KorDevice()) would leave the borrower pointing at freed
 * memory. The proxy classes therefore keep a reference to the Python object
 * of what is borrowed (the module's flat functions keep none). */
%pythoncode %{
def _borrowing(borrower, lender):
    borrower._borrowed = lender
    return borrower
%}
%pythonappend KorService::KorService %{
        _borrowing(self, device)
%}
%pythonappend GpioHw::GpioHw %{
        _borrowing(self, service)
%}
%pythonappend AdcHw::AdcHw %{
        _borrowing(self, service)
%}
%pythonappend I2cHw::I2cHw %{
        _borrowing(self, service)
%}
%pythonappend Adc::Adc %{
        _borrowing(self, board)
%}
%pythonappend Pin::Pin %{
        _borrowing(self, args[0])
%}
/* Assigning a whole block (vanta.gpiohw = other_block) copies the source's
 * service anchor and attribute values into the model's block: the copy then
 * talks through the source's service for as long as that service lives, and
 * fails as on a closed device once it is gone, so it never reaches freed
 * memory whatever chain of copies led to it. The copy holds leases on both
 * blocks' services and the call locks of both their connections (the one
 * the model's block talks through now, which an earlier assignment may have
 * made another model's), so that it never meets a call in progress on
 * either. */
%{
#include "CallGuard.h"
#include "ServiceAnchor.h"
%}
%typemap(memberin) GpioHw, AdcHw, I2cHw {
  if (arg1) {
    ServiceLease korvane_target($1.anchor()), korvane_source($input->anchor());
    CallGuard korvane_both(korvane_target.link(), korvane_source.link());
    $1 = *$input;
  }
}
%define KORVANE_BLOCK_VIEW(model, block)
%extend model {
%pythoncode %{
    block = property(lambda self: _borrowing(_korvane.model ## _ ## block ## _get(self), self),
                     _korvane.model ## _ ## block ## _set)
%}
}
%enddef
KORVANE_BLOCK_VIEW(Vanta, gpiohw)
KORVANE_BLOCK_VIEW(Vanta, adchw)
KORVANE_BLOCK_VIEW(Vanta, i2chw)
KORVANE_BLOCK_VIEW(Brondel, gpiohw)
KORVANE_BLOCK_VIEW(Dmm, i2chw)

/* The library's own interface for its layers and for C++ callers. */
%ignore KorDevice::openGeneration;
%ignore KorDevice::isGone;
%ignore KorDevice::callMutex;
%ignore KorDeviceManager::enumerateAttached;
%ignore KorDeviceManager::replaceDeviceList;
%ignore KorService::read;
%ignore KorService::write;
%ignore KorService::link;
%ignore KorService::readValue;
%ignore KorService::anchor;
%ignore KorCore::link;
%ignore GpioHw::anchor;
%ignore AdcHw::anchor;
%ignore I2cHw::anchor;

/* Device link. Its calls may wait on hidapi: they run without the
 * interpreter lock (the module's default, see korvane.i). */
%include "KorDevice.h"

/* Device enumeration; convertWcharToString follows the class. The manager
 * is built (enumerating) without the interpreter lock. Its lookups hand out
 * pointers into its snapshot, so they and the replacement of the snapshot
 * run under the lock: updateDeviceList enumerates without it, then swaps
 * the snapshot in with it, so that no other thread's lookup result can
 * point into a freed list. */
%nothread KorDeviceManager::getDeviceNum;
%nothread KorDeviceManager::getDeviceList;
%nothread KorDeviceManager::getSerialList;
%nothread KorDeviceManager::getPathByName;
%nothread KorDeviceManager::getPathByNameAndSerial;
%nothread KorDeviceManager::~KorDeviceManager;
%nothread KorDeviceManager::updateDeviceList;
%exception KorDeviceManager::updateDeviceList {
  hid_device_info *fresh;
  {
    SWIG_PYTHON_THREAD_BEGIN_ALLOW;
    fresh = KorDeviceManager::enumerateAttached();
    SWIG_PYTHON_THREAD_END_ALLOW;
  }
  arg1->replaceDeviceList(fresh);
}
%ignore convertWcharToString;
%include "KorDeviceManager.h"
%rename("%s") convertWcharToString;
%nothread convertWcharToString;
std::string convertWcharToString(wchar_t *text);

/* Value types never wait: they keep the interpreter lock (their implicit
 * constructors and destructors are named, since SWIG makes them at the end
 * of the class). */
%nothread korPacket::korPacket;
%nothread korPacket::~korPacket;
%nothread Attvalue::~Attvalue;
%nothread Attribute::~Attribute;
%nothread;

/* Packet record. Its array's type reads 'uint8_t [65]' in messages. The
 * module knows the 65 bytes behind every packet's dat (see hid_records.i). */
%define BUF_LEN 65 %enddef
%{
static_assert(sizeof(korPacket) == 65, "a korPacket is one 65-byte report buffer");
%}
%exception korPacket::korPacket {
  $action
  korvane_hid::remember_buffer(result, sizeof(korPacket));
}
%exception korPacket::~korPacket {
  korvane_hid::forget_buffers(arg1, sizeof(korPacket));
  $action
}
%include "korPacket.h"
#undef BUF_LEN

/* Attribute values. getValueU8str hands out the value storage (32 value
 * bytes and one zero wide character) as a wide string. */
%ignore Attvalue::rawBytes;
%ignore Attvalue::valueLength;
%exception Attvalue::getValueU8str {
  $action
  korvane_hid::remember_buffer(result, VALUE_LEN + sizeof(wchar_t));
}
%exception Attvalue::~Attvalue {
  korvane_hid::forget_buffers(arg1, sizeof(Attvalue));
  $action
}
%exception Attribute::~Attribute {
  korvane_hid::forget_buffers(arg1, sizeof(Attribute));
  $action
}
%include "Attvalue.h"
%include "Attribute.h"
%clearnothread;

/* A service starts its receive thread in its constructor (also inside a
 * connection or a model). A thread that cannot start becomes RuntimeError. */
%define KORVANE_STARTS_THREAD(constructor)
%exception constructor {
  try {
    $action
  } catch (const std::system_error &error) {
    PyErr_Format(PyExc_RuntimeError, "cannot start the receive thread: %s", error.what());
    SWIG_fail;
  }
}
%enddef
KORVANE_STARTS_THREAD(KorService::KorService)
KORVANE_STARTS_THREAD(KorCore::KorCore)
KORVANE_STARTS_THREAD(Vanta::Vanta)
KORVANE_STARTS_THREAD(Brondel::Brondel)
KORVANE_STARTS_THREAD(Dmm::Dmm)

/* The service's timing constants are the library's own. */
%rename("$ignore", regextarget=1, fullname=1) "^kor_service::";
%include "KorService.h"
%include "KorCore.h"

/* Device models. Their blocks are declared further down. */
class GpioHw;
class AdcHw;
class I2cHw;
%include "Vanta.h"
%include "Brondel.h"
%include "Dmm.h"

/* Channel handle. Declared here rather than read from Adc.h: the header
 * declares no destructor, and SWIG would then place delete_Adc after the
 * methods instead of right after new_Adc as for every other class. */
class Adc {
public:
  Adc(Vanta *board, uint8_t channel);
  ~Adc();
  int value();
};

/* Blocks. */
%include "AdcHw.h"
%include "GpioHw.h"
%include "I2cHw.h"

/* Pin handle, declared here for the same reason as Adc; value() comes before
 * value(bool), the order in which the overload error lists them. */
class Pin {
public:
  Pin(Vanta *board, uint8_t pin);
  Pin(Vanta *board, uint8_t pin, PinMode mode);
  ~Pin();
  bool mode(PinMode mode);
  bool value();
  bool value(bool level);
  bool on();
  bool off();
};

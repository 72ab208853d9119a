// The Korvane library's C++ API in one header: the device models with their
// pin and channel handles, the peripheral blocks, the connection and its
// attribute service, the device link and enumeration, and the published
// constants, all in namespace korvane. These are the headers the library
// installs (in include/korvane); the others are its own.
#ifndef KORVANE_KORVANE_H
#define KORVANE_KORVANE_H

#include "Adc.h"
#include "AdcHw.h"
#include "AnswerValue.h"
#include "Attribute.h"
#include "AttributeStatus.h"
#include "Attvalue.h"
#include "Brondel.h"
#include "Dmm.h"
#include "GpioHw.h"
#include "HidBackend.h"
#include "HotplugMonitor.h"
#include "I2cHw.h"
#include "KorCore.h"
#include "KorDevice.h"
#include "KorDeviceManager.h"
#include "KorService.h"
#include "Pin.h"
#include "Products.h"
#include "Vanta.h"
#include "export.h"
#include "kordefs.h"
#include "version.h"

#endif

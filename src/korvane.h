// The Korvane library's C++ API in one header: the three devices'
// connections with their GPIO, ADC and I2C blocks, the attribute service,
// the device link and enumeration, and the published constants, all in
// namespace korvane. Every device operation says how it ended (an
// AttributeResult or an Outcome). These are the headers the library installs
// (in include/korvane); the others are its own.
#ifndef KORVANE_KORVANE_H
#define KORVANE_KORVANE_H

#include "AdcInputs.h"
#include "AnswerValue.h"
#include "Attribute.h"
#include "AttributeStatus.h"
#include "Attvalue.h"
#include "Board.h"
#include "Connection.h"
#include "Gpio.h"
#include "HidBackend.h"
#include "HotplugMonitor.h"
#include "Hub.h"
#include "I2c.h"
#include "KorDevice.h"
#include "KorDeviceManager.h"
#include "KorService.h"
#include "Meter.h"
#include "Products.h"
#include "export.h"
#include "kordefs.h"
#include "version.h"

#endif

#pragma once
// The Bluetooth LE central on Qt Bluetooth (BlueZ). Every Qt object lives on one
// thread of its own that runs a Qt event loop, so the rest of the program never
// sees Qt; events reach the delegates on the central's queue like those of any
// other central. Qt's event loop needs an application object: when the process
// has none (headless runs, tests), that thread makes a QCoreApplication of its
// own, which then lives as long as a Qt central does. A program with a GUI must
// create its QApplication before it asks for a Qt central.
//
// The peripheral identifier is the device address (QBluetoothAddress::toString()).
// Without an adapter the central reports Unsupported; with one switched off,
// PoweredOff.
#include <memory>

#include "platform/ble/BleCentral.h"

namespace lumvane::ble::qt {

std::shared_ptr<BleCentral> createQtBleCentral(std::weak_ptr<BleCentralDelegate> delegate,
                                               std::shared_ptr<DispatchQueue> queue,
                                               const BleCentralOptions& options = {});

// Whether the process-wide Qt Bluetooth thread is running (tests check that the
// last central stops it).
bool qtBleThreadRunning();

}  // namespace lumvane::ble::qt

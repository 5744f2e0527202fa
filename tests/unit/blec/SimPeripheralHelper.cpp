// A simulated peripheral in a process of its own, for tests that kill it:
// joins the air at argv[1] under the address argv[2], advertises and waits.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "platform/ble/SimBlePeripheral.h"

int main(int argc, char** argv) {
    using namespace lumvane::ble;
    using namespace lumvane::ble::sim;
    if (argc != 3) return 2;
    auto delegate = std::make_shared<SimPeripheralDelegate>();
    auto device =
        SimBlePeripheralDevice::create({argv[1], argv[2], "Helper", kDefaultMtu}, delegate);
    if (!device->open()) return 1;
    device->setServices(
        {SimService{"05550D60-F72F-11E5-97D7-0002A5D5C51B",
                    {SimCharacteristic{"05550D60-A000-11E5-97D7-0002A5D5C51B",
                                       CharacteristicProperty::Read, lumvane::Bytes{'h'}}}}});
    AdvertisementData adv;
    adv.localName = "Helper";
    adv.isConnectable = true;
    device->startAdvertising(adv);
    for (;;) pause();
}

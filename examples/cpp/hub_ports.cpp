// Switches ports of the first attached hub (or the one whose serial number
// is given): ports 1 to 4 on, port 3 off and on again, the port mask read
// back after each step (bit n - 1 for port n). A step that fails is
// reported with what happened and the tour goes on; the exit status is then 1.
//
//   korvane-emu -- build-example/hub_ports [SERIAL]
#include <cstdint>
#include <cstdio>

#include <korvane/korvane.h>

#include "report.h"

namespace {
bool failed = false;

void report(const char *step, const korvane::AttributeResult &result) {
    if (!result.ok()) {
        std::printf("%s: failed, %s\n", step, example::describe(result).c_str());
        failed = true;
    }
}

void showMask(korvane::Hub &hub) {
    const korvane::Outcome<uint32_t> mask = hub.portMask();
    if (mask.ok()) {
        std::printf("port mask: 0x%08x\n", static_cast<unsigned>(mask.value()));
    } else {
        report("port mask", mask.result);
    }
}
}  // namespace

int main(int argc, char **argv) {
    korvane::Hub hub;
    if (!example::openModel(hub, korvane::kor_product::kBrondel, argc > 1 ? argv[1] : nullptr)) {
        return 2;
    }
    std::printf("%s %s\n", example::identity(hub, korvane::ATT_PRODUCT_NAME).c_str(),
                example::identity(hub, korvane::ATT_PRODUCT_SERIAL).c_str());
    showMask(hub);
    std::printf("ports 1-4 on\n");
    report("ports 1-4 on", hub.setPortMask(0x0F));
    showMask(hub);
    std::printf("port 3 off\n");
    report("port 3 off", hub.portOff(3));
    showMask(hub);
    std::printf("port 3 on\n");
    report("port 3 on", hub.portOn(3));
    showMask(hub);
    return failed ? 1 : 0;
}

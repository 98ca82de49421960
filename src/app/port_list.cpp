#include "app/port_list.h"

#include <QSocketNotifier>
#include <algorithm>

namespace qorvel {

TPortList::TPortList(QObject* parent) : QObject(parent) {
    // The monitor is listening before the list is read, so no port can slip between the two.
    if (FMonitor.Fd() >= 0) {
        FNotifier = new QSocketNotifier(FMonitor.Fd(), QSocketNotifier::Read, this);
        connect(FNotifier, &QSocketNotifier::activated, this, &TPortList::ReadEvents);
    }
    FPorts = platform::ListPorts();
}

TPortList::~TPortList() = default;

const platform::TPortInfo* TPortList::Find(std::string_view Name) const {
    const auto it = std::find_if(FPorts.begin(), FPorts.end(),
                                 [&](const platform::TPortInfo& Port) { return Port.Names(Name); });
    return it == FPorts.end() ? nullptr : &*it;
}

void TPortList::ReadEvents() {
    std::vector<platform::TPortInfo> added;
    bool changed = false;
    for (platform::TPortEvent& event : FMonitor.ReadEvents()) {
        const std::string& sysPath = event.Port.SysPath;
        changed |= std::erase_if(
                       FPorts, [&](const platform::TPortInfo& Port) { return Port.SysPath == sysPath; }) > 0;
        if (event.Change == platform::TPortChange::pcAdded) {
            FPorts.insert(std::upper_bound(FPorts.begin(), FPorts.end(), event.Port, platform::PortOrder),
                          event.Port);
            added.push_back(std::move(event.Port));
            changed = true;
        }
    }
    if (changed) emit Changed();
    for (const platform::TPortInfo& port : added)
        emit PortAdded(port);
}

} // namespace qorvel

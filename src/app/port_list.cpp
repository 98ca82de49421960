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

const platform::TPortInfo* TPortList::Find(const platform::TPortIdentity& Identity) const {
    const auto it = std::find_if(FPorts.begin(), FPorts.end(),
                                 [&](const platform::TPortInfo& Port) { return Port.Identity == Identity; });
    return it == FPorts.end() ? nullptr : &*it;
}

void TPortList::ReadEvents() {
    std::vector<std::string> added; // system paths
    bool changed = false;
    for (platform::TPortEvent& event : FMonitor.ReadEvents()) {
        if (event.Change == platform::TPortChange::pcOverflow) {
            FPorts = platform::ListPorts();
            added.clear();
            for (const platform::TPortInfo& port : FPorts)
                added.push_back(port.SysPath);
            changed = true;
            continue;
        }
        const std::string& sysPath = event.Port.SysPath;
        changed |= std::erase_if(
                       FPorts, [&](const platform::TPortInfo& Port) { return Port.SysPath == sysPath; }) > 0;
        std::erase(added, sysPath);
        if (event.Change == platform::TPortChange::pcAdded) {
            FPorts.insert(std::upper_bound(FPorts.begin(), FPorts.end(), event.Port, platform::PortOrder),
                          event.Port);
            added.push_back(sysPath);
            changed = true;
        }
    }
    if (!changed) return;
    // A port's name depends on the others: the second of two identical adapters renames the first.
    platform::NamePorts(FPorts);
    emit Changed();
    for (const std::string& sysPath : added) {
        // Copied: a handler may read the list again.
        const auto it = std::find_if(FPorts.begin(), FPorts.end(), [&](const platform::TPortInfo& Port) {
            return Port.SysPath == sysPath;
        });
        if (it != FPorts.end()) emit PortAdded(platform::TPortInfo(*it));
    }
}

} // namespace qorvel

#pragma once
// The machine's serial ports for the windows: the list from udev, kept up to date from the udev
// monitor's socket, which the application's event loop serves (no polling, no thread).
#include <QObject>
#include <memory>
#include <vector>

#include "platform/ports.h"

class QSocketNotifier;

namespace qorvel {

class TPortList : public QObject {
    Q_OBJECT
public:
    explicit TPortList(QObject* parent = nullptr);
    ~TPortList() override;

    // In kernel-name order.
    const std::vector<platform::TPortInfo>& Ports() const { return FPorts; }
    // The present port that is this device, or nullptr.
    const platform::TPortInfo* Find(const platform::TPortIdentity& Identity) const;

signals:
    void Changed();
    // Also for every present port after events were lost, since any of them may have come back
    // unseen.
    void PortAdded(const qorvel::platform::TPortInfo& Port);

private:
    void ReadEvents();

    platform::TPortMonitor FMonitor;
    QSocketNotifier* FNotifier = nullptr;
    std::vector<platform::TPortInfo> FPorts;
};

} // namespace qorvel

// The monitor's one controller: delegate of the application and the main
// window, data source of both tables, owner of the window's state.
#pragma once

#include "device/device.h"

#include <QObject>

class AppController : public QObject {
    Q_OBJECT

  public:
    explicit AppController(QObject* parent = nullptr);
    ~AppController() override;

    // Number of drive records, counted along the list.
    int FindNoOfDevices() const;
    // The record of drive `index`; the last record when no index matches;
    // null for an empty list.
    zentrova::device::xDEV_INFO* GetCurrentDevice(int index) const;
};

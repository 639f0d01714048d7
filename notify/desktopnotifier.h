#pragma once

#include "notifier.h"

#include <QObject>

// Placeholder until desktop notifications land.
class DesktopNotifier : public QObject, public Notifier
{
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject *parent = nullptr) : QObject(parent) {}
    void requestPermission() override {}
    void installDelegate() override {}
    void sendNotification(const QString &, const QString &, const QString &) override {}
};

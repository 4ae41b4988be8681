#pragma once

#include "Failures.h"

#include <QCoreApplication>
#include <QString>

#include <exception>
#include <new>

// The application object of the window and the tools. Every event of every thread (queued
// slot calls of the workers included) passes through notify(): an allocation that fails in a
// handler, or another exception that escapes one, ends that handler's step with a message and
// a counted failure instead of the whole program, and the log names what was being handled.
// Whatever the step was meant to produce is missing and counted, so an unattended run still
// ends with status 1.
template <class Base> class GuardedApp : public Base
{
public:
    GuardedApp(int &argc, char **argv)
        : Base(argc, argv)
    { }

    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return Base::notify(receiver, event);
        } catch (const std::bad_alloc &) {
            report(receiver, QStringLiteral("not enough memory"), Failures::Memory);
        } catch (const std::exception &e) {
            report(receiver, QString::fromLocal8Bit(e.what()), Failures::Other);
        } catch (...) {
            report(receiver, QStringLiteral("an unknown fault"), Failures::Other);
        }
        return false;
    }

private:
    static void report(QObject *receiver, const QString &why, Failures::Kind kind)
    {
        const char *cls = receiver ? receiver->metaObject()->className() : "nothing";
        // Built from static text: when memory ran out, as little as possible is allocated here.
        recordFailure(kind,
            QStringLiteral("A step of %1 was abandoned (%2); its results are missing")
                .arg(QLatin1String(cls), why));
    }
};

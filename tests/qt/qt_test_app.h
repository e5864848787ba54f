// Shared by the Qt tests: one application object on the offscreen
// platform with the Qt back end installed, and a way to answer the modal
// box or dialog that the code under test is about to open.
#pragma once
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QString>
#include <functional>
#include <ostream>
#include "platform/qt/qt_window.h"
#include "platform/qt/qt_widgets.h"
#include "platform/window/headless.h"

inline void qt_test_start()
{
    static int argc = 1;
    static char name[] = "test_qt";
    static char* argv[] = {name, nullptr};
    qt_window_start(&argc, argv);
    window_core_set_draw_log(true);
}

// Polls for the active modal widget and hands it to `act`, which answers
// it and returns true, or returns false to be asked again later (a new box
// may be on its way). Gives up after about ten seconds.
inline void qt_test_answer_modal(std::function<bool(QWidget*)> act)
{
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act, tries] {
        QWidget* w = QApplication::activeModalWidget();
        if ((w && act(w)) || ++*tries > 500) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(20);
}

// Lets queued calls and repaints happen.
inline void qt_test_process(int rounds = 5)
{
    for (int i = 0; i < rounds; ++i)
        QApplication::processEvents();
}

// Readable failures for texts.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

// Types a full name into a file dialog's name box and accepts, as a user would.
inline void qt_test_choose_file(QWidget* file_dialog, const QString& name)
{
    if (auto* edit = file_dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        edit->setText(name);
    // Queued: accepting may open a question that the same poller answers.
    QMetaObject::invokeMethod(file_dialog, "accept", Qt::QueuedConnection);
}

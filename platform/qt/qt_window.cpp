// The Qt back end's hook table and start-up: modal loops, waking the GUI
// thread for posted messages, message boxes, the save-file dialog, the
// format chooser and the screenshot of the first dialog.
#include "platform/qt/qt_window.h"
#include "platform/qt/format_chooser_qt.h"
#include "platform/qt/qt_widgets.h"
#include "platform/system/system.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleFactory>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>


namespace {

struct modal_run {
    window dialog;
    QEventLoop* loop;
};
std::vector<modal_run> modal_runs;   // innermost last; GUI thread only
std::atomic<bool> wake_pending{false};
bool screenshot_taken = false;

bool on_gui_thread()
{
    return QThread::currentThread() == qApp->thread();
}

// Runs fn on the GUI thread and waits for it: a question asked from
// another thread still gets its box.
template <typename F>
void on_gui(F fn)
{
    if (on_gui_thread())
        fn();
    else
        QMetaObject::invokeMethod(qApp, fn, Qt::BlockingQueuedConnection);
}

void quit_ended_loops()
{
    for (const modal_run& r : modal_runs)
        if (r.dialog->ended)
            r.loop->quit();
}

void handle_wake()
{
    wake_pending = false;
    window_core_dispatch_posted();
    quit_ended_loops();
}

// --- hooks -------------------------------------------------------------------------

void base_units(const dialog_template* t, int* bx, int* by)
{
    qt_base_units_for(qt_font_for(t->font_face, t->font_points, false), bx, by);
}

// Window rectangles are reported as if the dialog's client area sat where
// its template puts it on a screen with a standard frame, (18, 36): the
// program places its drawings by shifting those rectangles by fixed
// amounts, and this keeps them on their controls wherever the window
// manager really put the window. Nothing needs true screen positions.
void client_origin(window, point* p)
{
    p->x = 18;
    p->y = 36;
}

void create_dialog(window dialog)
{
    qt_create_dialog_widgets(dialog);
}

void destroy_dialog(window dialog)
{
    qt_destroy_dialog_widgets(dialog);
}

// The buttons a scripted screenshot presses first (TRACKMILL_SCREENSHOT_CLICKS:
// control ids separated by commas), and the wait after the last press
// (TRACKMILL_SCREENSHOT_WAIT_MS). An id that is not a number ends the list.
std::vector<int> screenshot_clicks()
{
    std::vector<int> ids;
    const char* list = getenv("TRACKMILL_SCREENSHOT_CLICKS");
    for (const char* p = list; p && *p;) {
        char* end = nullptr;
        const long id = std::strtol(p, &end, 10);
        if (end == p || id <= 0 || id > 0xFFFF)
            break;
        ids.push_back(int(id));
        p = *end == ',' ? end + 1 : end;
    }
    return ids;
}

int screenshot_wait_ms()
{
    const char* text = getenv("TRACKMILL_SCREENSHOT_WAIT_MS");
    const long ms = text ? std::strtol(text, nullptr, 10) : 0;
    return ms > 0 && ms <= 60000 ? int(ms) : 800;
}

void take_screenshot_later(window dialog)
{
    const char* file = getenv("TRACKMILL_SCREENSHOT");
    if (!file || !*file || screenshot_taken)
        return;
    screenshot_taken = true;
    QWidget* w = qt_dialog_widget(dialog);
    std::string name = file;
    auto grab = [w, dialog, name] {
        QPixmap shot = w->grab();
        if (!shot.save(QString::fromStdString(name), "PNG"))
            fprintf(stderr, "trackmill: cannot save the screenshot to %s\n", name.c_str());
        window_core_close(dialog);
    };
    // Give the window time to be mapped and painted, press the scripted
    // buttons a little apart, as a user would, then wait and leave.
    const std::vector<int> clicks = screenshot_clicks();
    int at = 800;
    for (int id : clicks) {
        QTimer::singleShot(at, w, [dialog, id] {
            if (window control = dialog_item(dialog, id))
                window_core_click(control);
        });
        at += 300;
    }
    QTimer::singleShot(clicks.empty() ? at : at + screenshot_wait_ms(), w, grab);
}

void run_modal(window dialog)
{
    QWidget* w = qt_dialog_widget(dialog);
    if (!w)
        return;
    QEventLoop loop;
    modal_runs.push_back({dialog, &loop});
    // No control has the focus until the procedure gives it one, so Enter
    // and Escape reach the dialog itself.
    if (!get_focus() || get_focus()->parent != dialog)
        w->setFocus(Qt::OtherFocusReason);
    w->show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        w->raise();
        w->activateWindow();
    }
    take_screenshot_later(dialog);
    // Messages posted during WM_INITDIALOG are handled once the loop runs.
    QMetaObject::invokeMethod(qApp, [] { handle_wake(); }, Qt::QueuedConnection);
    while (!dialog->ended) {
        if (loop.exec() == -1 && !dialog->ended) {
            // The application is being told to quit (a session ending):
            // leave as the user would, and wait rather than spin meanwhile.
            window_core_close(dialog);
            if (!dialog->ended)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    modal_runs.pop_back();
    w->hide();
}

void wake()
{
    // Any thread: one queued dispatch at a time is enough, it empties the queue.
    if (!wake_pending.exchange(true))
        QMetaObject::invokeMethod(qApp, [] { handle_wake(); }, Qt::QueuedConnection);
}

void control_changed(window w)
{
    qt_control_changed(w);
}

int message_box(window owner, const char* text, const char* caption, unsigned flags)
{
    int answer = IDOK;
    std::string t = text, c = caption;
    on_gui([&] {
        QWidget* parent = owner ? qt_dialog_widget(owner) : nullptr;
        if (owner && !parent)
            parent = qt_dialog_widget(qt_control_widget(owner) ? owner->parent : nullptr);
        QMessageBox box(parent);
        box.setWindowTitle(QString::fromStdString(c));
        box.setText(QString::fromStdString(t));
        box.setTextFormat(Qt::PlainText);
        switch (flags & 0xF0) {
        case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
        case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
        case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
        case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
        default: box.setIcon(QMessageBox::NoIcon); break;
        }
        bool yes_no = (flags & 0xF) == MB_YESNO;
        if (yes_no) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);   // leaving the box is the safe answer
        } else {
            box.setStandardButtons(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
        }
        if (ui_language() == LANG_POLISH) {
            for (auto [button, label] : {std::pair{QMessageBox::Yes, "&Tak"}, std::pair{QMessageBox::No, "&Nie"}})
                if (QAbstractButton* b = box.button(button))
                    b->setText(QString::fromUtf8(label));
        }
        if (flags & MB_TOPMOST)
            box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        int r = box.exec();
        answer = !yes_no ? IDOK : (r == QMessageBox::Yes ? IDYES : IDNO);
    });
    return answer;
}

int save_file(window owner, const char* filter_name, const char* pattern, char* name, int size, bool overwrite_prompt)
{
    if (!name || size <= 0)
        return 0;
    int chosen = 0;
    on_gui([&] {
        QWidget* parent = owner ? qt_dialog_widget(owner) : nullptr;
        QString filter_text = QString::fromUtf8(filter_name ? filter_name : "");
        QString pat = QString::fromUtf8(pattern && *pattern ? pattern : "*");
        if (!filter_text.contains('('))
            filter_text += QStringLiteral(" (") + pat + QStringLiteral(")");
        QFileInfo start(QString::fromUtf8(name, qsizetype(strnlen(name, size_t(size)))));
        QString suggestion = start.fileName();
        const bool polish = ui_language() == LANG_POLISH;
        QString directory = start.absolutePath();
        for (;;) {
            QFileDialog dialog(parent, polish ? QString::fromUtf8("Zapisz jako") : QStringLiteral("Save As"));
            if (polish) {
                dialog.setLabelText(QFileDialog::LookIn, QString::fromUtf8("Szukaj w:"));
                dialog.setLabelText(QFileDialog::FileName, QString::fromUtf8("Nazwa pliku:"));
                dialog.setLabelText(QFileDialog::FileType, QString::fromUtf8("Typ pliku:"));
                dialog.setLabelText(QFileDialog::Accept, QString::fromUtf8("&Zapisz"));
                dialog.setLabelText(QFileDialog::Reject, QString::fromUtf8("Anuluj"));
            }
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setOption(QFileDialog::DontUseNativeDialog, true);
            dialog.setOption(QFileDialog::DontConfirmOverwrite, !overwrite_prompt);
            dialog.setNameFilter(filter_text);
            dialog.setDirectory(directory);
            dialog.selectFile(suggestion);
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return;
            QString file = dialog.selectedFiles().first();
            QByteArray bytes = file.toUtf8();
            if (bytes.size() + 1 <= size) {
                std::memcpy(name, bytes.constData(), size_t(bytes.size()) + 1);
                chosen = 1;
                return;
            }
            // The caller's buffer cannot hold it: say so and ask again.
            if (polish)
                QMessageBox::warning(&dialog, QString::fromUtf8("Zapisz jako"),
                                     QString::fromUtf8("Nazwa pliku jest za długa (najwyżej %1 bajtów). "
                                                       "Wybierz krótszą.").arg(size - 1));
            else
                QMessageBox::warning(&dialog, QStringLiteral("Save As"),
                                     QStringLiteral("The file name is too long (at most %1 bytes). "
                                                    "Please choose a shorter one.").arg(size - 1));
            QFileInfo again(file);
            directory = again.absolutePath();
            suggestion = again.fileName();
        }
    });
    return chosen;
}

int format_chooser(window owner, const format_choice* choices, int count)
{
    int index = -1;
    on_gui([&] { index = qt_format_chooser(owner ? qt_dialog_widget(owner) : nullptr, choices, count); });
    return index;
}

void draw(const draw_call& call)
{
    qt_surface_draw(call);
}

int open_url(const char* url)
{
    bool opened = false;
    std::string text = url;
    on_gui([&] {
        QUrl address(QString::fromStdString(text), QUrl::StrictMode);
        opened = address.isValid() && QDesktopServices::openUrl(address);
    });
    return opened ? 0 : -1;
}

int start_program(const char* path)
{
    return window_core_spawn_program(path);
}

const window_backend qt_backend = {
    "qt", base_units, client_origin, create_dialog, destroy_dialog, run_modal,
    wake, control_changed, message_box, save_file, format_chooser, draw,
    open_url, start_program,
};

// An X display named like ":0" is reachable when its socket accepts us;
// Qt would otherwise end the process with a fatal error.
bool local_x_display_answers(const char* display)
{
    if (!display || display[0] != ':')
        return true;   // remote or unusual names: let Qt try
    int number = atoi(display + 1);
    std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return true;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (!ok) {
        // Linux also listens on the abstract socket of the same name.
        sockaddr_un abs{};
        abs.sun_family = AF_UNIX;
        std::strncpy(abs.sun_path + 1, path.c_str(), sizeof abs.sun_path - 2);
        ok = connect(fd, reinterpret_cast<sockaddr*>(&abs), socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size())) == 0;
    }
    close(fd);
    return ok;
}

bool display_available()
{
    const char* platform = getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const char* wayland = getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland)
        return true;
    const char* x = getenv("DISPLAY");
    return x && *x && local_x_display_answers(x);
}

// SIGINT, SIGTERM and SIGHUP (a Ctrl+C, a logout, a closed terminal) leave
// the program by its Exit path, so a recording that runs is finished, not
// cut off with its running sizes. The handler only writes the signal's
// number into a pipe; the GUI thread reads it and closes the main dialog.
int interrupt_pipe[2] = {-1, -1};

void on_interrupt_signal(int sig)
{
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(sig);
    if (write(interrupt_pipe[1], &b, 1) < 0) {
        // A full pipe holds an interrupt already.
    }
    errno = saved;
}

void on_interrupt_read()
{
    unsigned char b = 0;
    if (read(interrupt_pipe[0], &b, 1) != 1)
        return;
    if (modal_runs.empty())
        std::_Exit(128 + b);   // no dialog yet: nothing to finish
    window_core_close(modal_runs.front().dialog);
}

void catch_interrupts()
{
    if (interrupt_pipe[0] >= 0 || pipe2(interrupt_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(interrupt_pipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, [] { on_interrupt_read(); });
    struct sigaction sa = {};
    sa.sa_handler = on_interrupt_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
}

} // namespace

int qt_window_start(int* argc, char** argv)
{
    if (!qApp) {
        if (!display_available())
            return -1;
        // The application object lives to the end of the process.
        new QApplication(*argc, argv);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        // A light palette whatever the desktop's theme: the dialog procedure
        // paints buttons and drawings in fixed colours on the button face.
        QPalette pal = QApplication::style()->standardPalette();
        pal.setColor(QPalette::Window, qt_dialog_background());
        pal.setColor(QPalette::Button, qt_dialog_background());
        QApplication::setPalette(pal);
        QApplication::setFont(qt_font_for(nullptr, 8, false));
        QApplication::setWindowIcon(qt_application_icon());
        // Qt's own texts (the file dialog's columns, its questions) follow
        // the window's language when Debian's translations are installed.
        if (ui_language() == LANG_POLISH) {
            auto* translator = new QTranslator(qApp);
            if (translator->load(QLocale(QLocale::Polish), QStringLiteral("qtbase"), QStringLiteral("_"),
                                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
                QApplication::installTranslator(translator);
        }
        // Dialogs end through their procedure, never by their windows closing.
        QApplication::setQuitOnLastWindowClosed(false);
        window_core_set_draw_log(false);
        catch_interrupts();
    }
    window_set_backend(&qt_backend);
    return 0;
}

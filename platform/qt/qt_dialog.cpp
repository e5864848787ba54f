// Widgets for the core's dialogs: a top-level window per dialog, one widget
// per control at its pixel rectangle, push buttons that ask the dialog
// procedure for their colours and erase message whenever they paint, and
// an overlay that shows the dialog's drawings above the controls.
#include "platform/qt/qt_widgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QThread>
#include <QUrl>
#include <string>

namespace {

QColor color_of(colorref c)
{
    return QColor(int(red_of(c)), int(green_of(c)), int(blue_of(c)));
}

QString text_of(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// The local file a drag brings (the first, when it brings several); empty
// when it brings none.
QString dropped_file(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return QString();
}

// A dialog's window: its close box and Escape are the user leaving, Enter
// presses the default push button, a file dropped on it goes to the dialog
// procedure.
class dialog_widget : public QWidget {
public:
    window_object* model;   // ::window; QWidget::window() hides the alias here
    explicit dialog_widget(window_object* m, QWidget* parent)
        : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
          model(m)
    {
        setAcceptDrops(true);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* e) override
    {
        if (model && !dropped_file(e->mimeData()).isEmpty())
            e->acceptProposedAction();
    }

    void dropEvent(QDropEvent* e) override
    {
        const QString file = dropped_file(e->mimeData());
        if (!model || file.isEmpty())
            return;
        e->acceptProposedAction();
        // Handed on after the drop has ended: the procedure may show a
        // message box, which must not run while the drag source waits.
        const QByteArray path = file.toUtf8();
        QMetaObject::invokeMethod(
            this,
            [this, path] {
                if (model)
                    window_core_drop_file(model, path.constData());
            },
            Qt::QueuedConnection);
    }

    void closeEvent(QCloseEvent* e) override
    {
        // The dialog procedure decides; the window goes when the dialog ends.
        e->ignore();
        if (model)
            window_core_close(model);
    }

    void keyPressEvent(QKeyEvent* e) override
    {
        if (!model) {
            QWidget::keyPressEvent(e);
            return;
        }
        if (e->key() == Qt::Key_Escape) {
            window_core_close(model);
            return;
        }
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
            for (window_object* c : model->children)
                if (c->kind == CTL_DEFPUSHBUTTON) {
                    window_core_click(c);
                    return;
                }
        }
        QWidget::keyPressEvent(e);
    }
};

// Shows the dialog's persistent drawings over everything else in it.
class overlay_widget : public QWidget {
public:
    window_object* dialog;
    overlay_widget(window_object* d, QWidget* parent) : QWidget(parent), dialog(d)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QPainter p(this);
        qt_surface_paint_on(p, dialog, e->rect());
    }
};

// A push button painted the way the dialog procedure wants it: first its
// background with the erase message (a subclassed procedure may draw
// there), then the face in the brush colour that WM_CTLCOLORBTN returns,
// then the caption in that text colour, on that background colour when
// the procedure set one.
class button_widget : public QPushButton {
public:
    window_object* model;
    button_widget(window_object* m, QWidget* parent) : QPushButton(parent), model(m) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        qreal dpr = devicePixelRatioF();
        QImage buffer(size() * dpr, QImage::Format_ARGB32_Premultiplied);
        buffer.setDevicePixelRatio(dpr);
        buffer.fill(qt_dialog_background());

        colorref text = rgb(0, 0, 0), face = button_face_color(), background = face, brush = face;
        bool colored = false;
        if (model) {
            dc d = get_dc(model);
            qt_surface_begin_button(model, &buffer);
            send_message(model, WM_ERASEBKGND, wparam(d), 0);
            qt_surface_end_button();
            release_dc(model, d);
            colored = window_core_button_colors(model, &text, &background, &brush);
        }

        QPainter p(&buffer);
        QStyleOptionButton opt;
        initStyleOption(&opt);
        if (colored)
            opt.palette.setColor(QPalette::Button, color_of(brush));
        style()->drawControl(QStyle::CE_PushButtonBevel, &opt, &p, this);

        QFont f = model ? qt_font_for(model->font_) : font();
        p.setFont(f);
        QRect area = rect().adjusted(2, 1, -2, -1);
        if (isDown())
            area.translate(1, 1);
        int flags = Qt::AlignCenter | Qt::TextShowMnemonic;
        if (colored && background != face) {
            QRect behind = QFontMetrics(f).boundingRect(area, flags, this->text());
            p.fillRect(behind & rect(), color_of(background));
        }
        QColor ink = !isEnabled() ? palette().color(QPalette::Disabled, QPalette::ButtonText)
                     : colored    ? color_of(text)
                                  : palette().color(QPalette::ButtonText);
        p.setPen(ink);
        p.drawText(area, flags, this->text());
        if (hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rect().adjusted(3, 3, -3, -3);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
        }
        p.end();

        QPainter out(this);
        out.drawImage(0, 0, buffer);
    }
};

// A static text. Whenever it paints it asks the dialog procedure for its
// colours (WM_CTLCOLORSTATIC); with SS_NOTIFY it takes the mouse: the
// pointer's shape comes from WM_SETCURSOR, and the left button pressed
// and released over it reaches the control's procedure.
class static_widget : public QLabel {
public:
    window_object* model;
    static_widget(window_object* m, QWidget* parent) : QLabel(parent), model(m)
    {
        setMouseTracking(true);
    }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        static_colors c;
        if (!model || !window_core_static_colors(model, &c)) {
            QLabel::paintEvent(e);
            return;
        }
        QPainter p(this);
        if (!c.brush_null)
            p.fillRect(rect(), color_of(c.brush));
        p.setFont(font());
        QRect area = contentsRect();
        int flags = int(alignment()) | (wordWrap() ? int(Qt::TextWordWrap) : 0);
        if (c.mode == OPAQUE_BK)
            p.fillRect(p.fontMetrics().boundingRect(area, flags, text()) & area, color_of(c.background));
        p.setPen(isEnabled() ? color_of(c.text) : palette().color(QPalette::Disabled, QPalette::WindowText));
        p.drawText(area, flags, text());
    }

    void enterEvent(QEnterEvent* e) override
    {
        ask_cursor();
        QLabel::enterEvent(e);
    }

    void mouseMoveEvent(QMouseEvent* e) override
    {
        ask_cursor();
        e->accept();
    }

    void mousePressEvent(QMouseEvent* e) override
    {
        if (!model || e->button() != Qt::LeftButton) {
            QLabel::mousePressEvent(e);
            return;
        }
        QPoint at = e->position().toPoint();
        window_core_mouse_button(model, WM_LBUTTONDOWN, at.x(), at.y());
        e->accept();
    }

    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (!model || e->button() != Qt::LeftButton) {
            QLabel::mouseReleaseEvent(e);
            return;
        }
        // The press grabbed the mouse; a release carried off the control
        // is no click on it.
        QPoint at = e->position().toPoint();
        if (rect().contains(at))
            window_core_mouse_button(model, WM_LBUTTONUP, at.x(), at.y());
        e->accept();
    }

private:
    void ask_cursor()
    {
        if (!model)
            return;
        if (window_core_cursor_over(model) == CURSOR_HAND)
            setCursor(Qt::PointingHandCursor);
        else
            unsetCursor();
    }
};

// What a control shows, copied from the model so that it can travel to the
// GUI thread.
struct control_look {
    std::string text;
    bool enabled = true;
    bool pushed = false;
    bool underline = false;
    bool notify = false;         // a static that takes the mouse
    int points = 8;
    std::string face;
};

control_look look_of(window w)
{
    control_look l;
    l.text = w->text;
    l.enabled = w->enabled;
    l.pushed = (w->button_state & BST_PUSHED) != 0;
    l.notify = (w->style & SS_NOTIFY) != 0;
    if (w->font_) {
        l.underline = w->font_->underline;
        l.points = w->font_->points;
        l.face = w->font_->face;
    }
    return l;
}

void show_look(QWidget* widget, control_kind kind, bool is_dialog, const control_look& l)
{
    QString text = text_of(l.text);
    if (is_dialog) {
        widget->setWindowTitle(text);
        return;
    }
    widget->setFont(qt_font_for(l.face.c_str(), l.points, l.underline));
    widget->setEnabled(l.enabled);
    switch (kind) {
    case CTL_PUSHBUTTON:
    case CTL_DEFPUSHBUTTON: {
        auto* b = static_cast<QPushButton*>(widget);
        if (b->text() != text)
            b->setText(text);
        b->setDown(l.pushed);
        break;
    }
    case CTL_EDIT: {
        auto* e = static_cast<QLineEdit*>(widget);
        if (e->text() != text)
            e->setText(text);
        break;
    }
    case CTL_GROUPBOX:
        static_cast<QGroupBox*>(widget)->setTitle(text);
        break;
    case CTL_LTEXT:
    case CTL_CTEXT:
        static_cast<QLabel*>(widget)->setText(text);
        widget->setAttribute(Qt::WA_TransparentForMouseEvents, !l.notify);
        break;
    case CTL_WHITERECT:
    case CTL_STATIC_AREA:
    case CTL_ICON:
        break;
    }
    widget->update();
}

bool on_gui_thread()
{
    return qApp && QThread::currentThread() == qApp->thread();
}

QWidget* make_control(window c, QWidget* parent)
{
    QWidget* widget = nullptr;
    switch (c->kind) {
    case CTL_PUSHBUTTON:
    case CTL_DEFPUSHBUTTON: {
        auto* b = new button_widget(c, parent);
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, b, [b] {
            if (b->model)
                window_core_click(b->model);
        });
        widget = b;
        break;
    }
    case CTL_EDIT: {
        auto* e = new QLineEdit(parent);
        QObject::connect(e, &QLineEdit::textEdited, e, [c](const QString& t) {
            window_core_typed(c, t.toUtf8().constData());
        });
        widget = e;
        break;
    }
    case CTL_LTEXT:
    case CTL_CTEXT: {
        auto* l = new static_widget(c, parent);
        l->setTextFormat(Qt::PlainText);   // names and numbers, never markup
        l->setWordWrap(true);
        l->setAlignment((c->kind == CTL_CTEXT ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        widget = l;
        break;
    }
    case CTL_WHITERECT: {
        widget = new QWidget(parent);
        QPalette pal = widget->palette();
        pal.setColor(QPalette::Window, Qt::white);
        widget->setPalette(pal);
        widget->setAutoFillBackground(true);
        break;
    }
    case CTL_STATIC_AREA:
        widget = new QWidget(parent);
        break;
    case CTL_GROUPBOX:
        widget = new QGroupBox(parent);
        break;
    case CTL_ICON: {
        auto* l = new QLabel(parent);
        l->setPixmap(qt_application_icon().pixmap(32, 32));
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = l;
        break;
    }
    }
    if (c->kind != CTL_PUSHBUTTON && c->kind != CTL_DEFPUSHBUTTON && c->kind != CTL_EDIT)
        widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    QRect r(QPoint(c->client.left, c->client.top), QPoint(c->client.right - 1, c->client.bottom - 1));
    if (c->kind == CTL_ICON)
        r.setSize(QSize(32, 32));   // an icon control takes the icon's own size
    widget->setGeometry(r);
    return widget;
}

} // namespace

QIcon qt_application_icon()
{
    // A record seen from above: grooves on black, a red label, the spindle hole.
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 20));
    p.drawEllipse(QRectF(1, 1, 30, 30));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(70, 70, 70), 0.8));
    for (qreal r = 13; r > 7; r -= 2)
        p.drawEllipse(QPointF(16, 16), r, r);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 30, 30));
    p.drawEllipse(QPointF(16, 16), 5.5, 5.5);
    p.setBrush(QColor(240, 240, 240));
    p.drawEllipse(QPointF(16, 16), 1.2, 1.2);
    p.end();
    return QIcon(pm);
}

QColor qt_dialog_background()
{
    return color_of(button_face_color());
}

QFont qt_font_for(const char* face, int points, bool underline)
{
    // The templates ask for an 8-point bitmap font that Linux does not
    // have; DejaVu Sans at 11 pixels keeps their layout tidy. The face is
    // not honoured, only the size and the underline.
    (void)face;
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(points > 0 ? (points * 11 + 4) / 8 : 11);
    f.setUnderline(underline);
    return f;
}

QFont qt_font_for(const font_object* f)
{
    if (!f)
        return qt_font_for(nullptr, 8, false);
    return qt_font_for(f->face.c_str(), f->points, f->underline);
}

void qt_base_units_for(const QFont& f, int* base_x, int* base_y)
{
    QFontMetrics m(f);
    int width = m.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    *base_x = (width / 26 + 1) / 2;
    *base_y = m.height();
}

QWidget* qt_dialog_widget(window dialog)
{
    return dialog && dialog->is_dialog ? static_cast<QWidget*>(dialog->view) : nullptr;
}

QWidget* qt_control_widget(window control)
{
    return control && !control->is_dialog ? static_cast<QWidget*>(control->view) : nullptr;
}

void qt_create_dialog_widgets(window dialog)
{
    QWidget* owner = dialog->parent ? qt_dialog_widget(dialog->parent) : nullptr;
    auto* w = new dialog_widget(dialog, owner);
    dialog->view = w;
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->setWindowTitle(text_of(dialog->text));
    w->setFont(qt_font_for(dialog->font_));
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, qt_dialog_background());
    w->setPalette(pal);
    w->setAutoFillBackground(true);
    QSize size(dialog->client.right - dialog->client.left, dialog->client.bottom - dialog->client.top);
    w->setFixedSize(size);
    if (const dialog_template* t = dialog->tmpl) {
        int bx = 6, by = 13;
        qt_base_units_for(qt_font_for(t->font_face, t->font_points, false), &bx, &by);
        w->move(t->x * bx / 4, t->y * by / 8);
    }

    for (window c : dialog->children) {
        QWidget* cw = make_control(c, w);
        c->view = cw;
        show_look(cw, c->kind, false, look_of(c));
    }
    // Group boxes lie beneath the controls they surround.
    for (window c : dialog->children)
        if (c->kind == CTL_GROUPBOX)
            static_cast<QWidget*>(c->view)->lower();

    auto* overlay = new overlay_widget(dialog, w);
    overlay->setGeometry(0, 0, size.width(), size.height());
    overlay->raise();
    qt_surface_open(dialog, overlay, size);
}

void qt_destroy_dialog_widgets(window dialog)
{
    // The surface goes first, so that no drawing reaches a deleted overlay.
    qt_surface_close(dialog);
    auto* w = static_cast<dialog_widget*>(dialog->view);
    if (!w)
        return;
    for (window c : dialog->children) {
        if (c->kind == CTL_PUSHBUTTON || c->kind == CTL_DEFPUSHBUTTON)
            static_cast<button_widget*>(c->view)->model = nullptr;
        if (c->kind == CTL_LTEXT || c->kind == CTL_CTEXT)
            static_cast<static_widget*>(c->view)->model = nullptr;
        c->view = nullptr;
    }
    w->model = nullptr;
    dialog->view = nullptr;
    w->hide();
    delete w;
}

void qt_apply_control(window w)
{
    auto* widget = static_cast<QWidget*>(w->view);
    if (!widget)
        return;
    show_look(widget, w->kind, w->is_dialog, look_of(w));
    if (!w->is_dialog && get_focus() == w && !widget->hasFocus())
        widget->setFocus(Qt::OtherFocusReason);
}

void qt_control_changed(window w)
{
    if (!w || !w->view)
        return;
    if (on_gui_thread()) {
        qt_apply_control(w);
        return;
    }
    // The playback timer writes the status line from its own thread: the
    // widget gets a copy, and Qt drops it if the widget is gone by then.
    auto* widget = static_cast<QWidget*>(w->view);
    control_look look = look_of(w);
    control_kind kind = w->kind;
    bool is_dialog = w->is_dialog;
    QMetaObject::invokeMethod(widget, [widget, kind, is_dialog, look] {
        show_look(widget, kind, is_dialog, look);
    }, Qt::QueuedConnection);
}

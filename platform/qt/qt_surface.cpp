// Drawing calls painted the way the dialogs expect them: aliased, lines
// without their end point, rectangles without their right and bottom edge,
// pies along rays from the centre. A dialog's drawings go to a persistent
// image that its overlay shows above the controls, so they survive covering.
#include "platform/qt/qt_widgets.h"

#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

struct surface {
    QImage image;
    QWidget* overlay = nullptr;   // lives as long as this entry
    bool update_pending = false;
};

// The playback timer draws from its own thread while the GUI thread shows
// the image; both go through this lock.
std::mutex surfaces_mutex;
std::unordered_map<window, std::unique_ptr<surface>> surfaces;

// A button painting itself routes the drawing calls of its erase message
// to its own paint buffer (always on the GUI thread).
thread_local window painting_button = nullptr;
thread_local QImage* painting_buffer = nullptr;

QColor color_of(colorref c)
{
    return QColor(int(red_of(c)), int(green_of(c)), int(blue_of(c)));
}

QPen pen_of(const draw_call& call)
{
    if (call.pen_null)
        return QPen(Qt::NoPen);
    QPen pen(color_of(call.pen_color));
    if (call.pen_width <= 1) {
        // A one-pixel line stops short of its end point.
        pen.setWidth(1);
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
    } else {
        // Wide solid pens have round ends and joins.
        pen.setWidth(call.pen_width);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
    }
    return pen;
}

QBrush brush_of(const draw_call& call)
{
    if (call.brush_null)
        return QBrush(Qt::NoBrush);
    return QBrush(color_of(call.brush_color));
}

// The figure of (l, t, r, b) covers columns l..r-1 and rows t..b-1.
QRectF figure_rect(const int* v)
{
    return QRectF(v[0], v[1], v[2] - v[0] - 1, v[3] - v[1] - 1);
}

// The angle (degrees, counter-clockwise from three o'clock) at which the
// ray from the centre through (x, y) meets the ellipse, as the parameter
// of the ellipse that QPainterPath::arcTo takes.
qreal ray_angle(const QRectF& r, int x, int y)
{
    qreal a = r.width() / 2, b = r.height() / 2;
    qreal dx = x - r.center().x();
    qreal dy = r.center().y() - y;
    return std::atan2(dy * a, dx * b) * 180.0 / M_PI;
}

void paint_pie(QPainter& p, const draw_call& call)
{
    QRectF r = figure_rect(call.v);
    if (r.width() <= 0 || r.height() <= 0)
        return;
    qreal from = ray_angle(r, call.v[4], call.v[5]);
    qreal to = ray_angle(r, call.v[6], call.v[7]);
    qreal sweep = to - from;
    while (sweep <= 0)
        sweep += 360;   // equal rays give the whole ellipse
    while (sweep > 360)
        sweep -= 360;
    QPainterPath path;
    path.moveTo(r.center());
    path.arcTo(r, from, sweep);
    path.closeSubpath();
    p.drawPath(path);
}

void invert(QImage& image, const int* v, QRgb under)
{
    QRect r = QRect(QPoint(v[0], v[1]), QPoint(v[2] - 1, v[3] - 1)).normalized();
    qreal dpr = image.devicePixelRatio();
    r = QRect(int(r.left() * dpr), int(r.top() * dpr), int(r.width() * dpr), int(r.height() * dpr));
    r &= image.rect();
    if (r.isEmpty())
        return;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            QRgb px = qAlpha(line[x]) ? line[x] : under;
            line[x] = qRgb(255 - qRed(px), 255 - qGreen(px), 255 - qBlue(px));
        }
    }
}

} // namespace

void qt_paint_call(QImage& image, const draw_call& call, QRgb under)
{
    if (call.op == DRAW_INVERT_RECT) {
        invert(image, call.v, under);
        return;
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (call.op) {
    case DRAW_LINE:
        // A zero-length line leaves nothing, whatever the pen's width.
        if (call.v[0] == call.v[2] && call.v[1] == call.v[3])
            break;
        p.setPen(pen_of(call));
        p.drawLine(call.v[0], call.v[1], call.v[2], call.v[3]);
        break;
    case DRAW_POLYLINE: {
        p.setPen(pen_of(call));
        QPolygon poly;
        poly.reserve(int(call.points.size()));
        for (const point& pt : call.points)
            poly.append(QPoint(pt.x, pt.y));
        p.drawPolyline(poly);
        break;
    }
    case DRAW_PIE:
        p.setPen(pen_of(call));
        p.setBrush(brush_of(call));
        paint_pie(p, call);
        break;
    case DRAW_ELLIPSE:
        p.setPen(pen_of(call));
        p.setBrush(brush_of(call));
        p.drawEllipse(figure_rect(call.v));
        break;
    case DRAW_FILL_RECT:
        if (!call.brush_null)
            p.fillRect(QRect(QPoint(call.v[0], call.v[1]), QPoint(call.v[2] - 1, call.v[3] - 1)), color_of(call.brush_color));
        break;
    case DRAW_INVERT_RECT:
        break;
    }
}

// --- surfaces --------------------------------------------------------------------

void qt_surface_open(window dialog, QWidget* overlay, QSize size)
{
    auto s = std::make_unique<surface>();
    s->image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    s->image.fill(Qt::transparent);
    s->overlay = overlay;
    std::lock_guard<std::mutex> lock(surfaces_mutex);
    surfaces[dialog] = std::move(s);
}

void qt_surface_close(window dialog)
{
    std::lock_guard<std::mutex> lock(surfaces_mutex);
    surfaces.erase(dialog);
}

void qt_surface_paint_on(QPainter& p, window dialog, const QRect& area)
{
    std::lock_guard<std::mutex> lock(surfaces_mutex);
    auto it = surfaces.find(dialog);
    if (it == surfaces.end())
        return;
    p.drawImage(area, it->second->image, area);
}

QImage qt_surface_image(window dialog)
{
    std::lock_guard<std::mutex> lock(surfaces_mutex);
    auto it = surfaces.find(dialog);
    return it == surfaces.end() ? QImage() : it->second->image.copy();
}

void qt_surface_begin_button(window button, QImage* buffer)
{
    painting_button = button;
    painting_buffer = buffer;
}

void qt_surface_end_button()
{
    painting_button = nullptr;
    painting_buffer = nullptr;
}

void qt_surface_draw(const draw_call& call)
{
    if (call.target && call.target == painting_button && painting_buffer) {
        qt_paint_call(*painting_buffer, call, qt_dialog_background().rgb());
        return;
    }
    // Only dialogs keep what is drawn on them; a control drawn on outside
    // its own painting would lose it at once, so such calls are dropped.
    // The target is looked up, never followed, as it may already be gone.
    std::lock_guard<std::mutex> lock(surfaces_mutex);
    auto it = surfaces.find(call.target);
    if (it == surfaces.end())
        return;
    surface& s = *it->second;
    qt_paint_call(s.image, call, qt_dialog_background().rgb());
    if (!s.update_pending && s.overlay) {
        // One repaint is asked at a time; Qt drops it if the overlay goes.
        s.update_pending = true;
        QWidget* overlay = s.overlay;
        window dialog = call.target;
        QMetaObject::invokeMethod(overlay, [overlay, dialog] {
            {
                std::lock_guard<std::mutex> lock(surfaces_mutex);
                auto it = surfaces.find(dialog);
                if (it != surfaces.end())
                    it->second->update_pending = false;
            }
            overlay->update();
        }, Qt::QueuedConnection);
    }
}

// Drawing calls painted the way the dialogs expect them: aliased, lines
// without their end point, rectangles without their right and bottom edge,
// pies along rays from the centre. A dialog's drawings go to a persistent
// image that its overlay shows above the controls, so they survive covering.
#include "platform/qt/qt_widgets.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <QThread>
#include <QWidget>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

struct surface {
    QImage image;
    QWidget* overlay = nullptr;   // lives as long as this entry
    bool update_pending = false;
    QRect dirty;                  // drawn since the overlay last showed it
    QElapsedTimer shown;          // since the last immediate repaint
};

// While a command runs long on the GUI thread (a cleaning pass draws the
// wave view after every buffer), no event is handled; the drawings are then
// shown at once, but not more often than this.
constexpr int IMMEDIATE_REPAINT_MS = 40;

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

// One-pixel lines straight into the image: a cleaning pass draws a
// polyline of a few hundred points after every buffer, and this is several
// times quicker than the painter's stroker. Every segment leaves out its
// end point. False when the segment leaves the image (the painter clips it).
bool plot_thin_line(QImage& image, int x0, int y0, int x1, int y1, QRgb color)
{
    if (image.devicePixelRatio() != 1.0 || !image.rect().contains(x0, y0) || !image.rect().contains(x1, y1))
        return false;
    int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    while (x0 != x1 || y0 != y1) {
        reinterpret_cast<QRgb*>(bits + y0 * stride)[x0] = color;
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
    return true;
}

bool plot_thin(QImage& image, const draw_call& call)
{
    if (call.pen_null || call.pen_width > 1 || image.format() != QImage::Format_ARGB32_Premultiplied)
        return false;
    QRgb color = qRgb(int(red_of(call.pen_color)), int(green_of(call.pen_color)), int(blue_of(call.pen_color)));
    if (call.op == DRAW_LINE)
        return plot_thin_line(image, call.v[0], call.v[1], call.v[2], call.v[3], color);
    QRect bounds = image.rect();
    for (const point& p : call.points)
        if (!bounds.contains(p.x, p.y))
            return false;
    for (size_t i = 1; i < call.points.size(); ++i)
        plot_thin_line(image, call.points[i - 1].x, call.points[i - 1].y, call.points[i].x, call.points[i].y, color);
    return true;
}

// The pixels a call may touch, for the repaint.
QRect bounds_of(const draw_call& call)
{
    QRect r;
    if (call.op == DRAW_POLYLINE) {
        for (const point& p : call.points)
            r |= QRect(p.x, p.y, 1, 1);
    } else if (call.op == DRAW_LINE) {
        r = QRect(QPoint(call.v[0], call.v[1]), QPoint(call.v[2], call.v[3])).normalized();
    } else {
        r = QRect(QPoint(call.v[0], call.v[1]), QPoint(call.v[2], call.v[3])).normalized();
    }
    int grow = call.pen_width / 2 + 2;
    return r.adjusted(-grow, -grow, grow, grow);
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
    if ((call.op == DRAW_LINE || call.op == DRAW_POLYLINE) && plot_thin(image, call))
        return;
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
    if (area.contains(it->second->dirty))
        it->second->dirty = QRect();
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
    QWidget* repaint_now = nullptr;
    QRect repaint_area;
    {
        std::lock_guard<std::mutex> lock(surfaces_mutex);
        auto it = surfaces.find(call.target);
        if (it == surfaces.end())
            return;
        surface& s = *it->second;
        qt_paint_call(s.image, call, qt_dialog_background().rgb());
        s.dirty |= bounds_of(call) & s.image.rect();
        if (!s.overlay)
            return;
        bool gui = QThread::currentThread() == s.overlay->thread();
        if (gui && !painting_button && (!s.shown.isValid() || s.shown.elapsed() >= IMMEDIATE_REPAINT_MS)) {
            s.shown.start();
            repaint_now = s.overlay;
            repaint_area = s.dirty;
        } else if (!s.update_pending) {
            // One repaint is asked at a time; Qt drops it if the overlay goes.
            s.update_pending = true;
            QWidget* overlay = s.overlay;
            window dialog = call.target;
            QMetaObject::invokeMethod(overlay, [overlay, dialog] {
                QRect area;
                {
                    std::lock_guard<std::mutex> lock(surfaces_mutex);
                    auto it = surfaces.find(dialog);
                    if (it == surfaces.end())
                        return;
                    it->second->update_pending = false;
                    area = it->second->dirty;
                }
                overlay->update(area);
            }, Qt::QueuedConnection);
        }
    }
    // Outside the lock: painting the overlay takes it.
    if (repaint_now && !repaint_area.isEmpty() && repaint_now->isVisible() && !repaint_now->paintingActive())
        repaint_now->repaint(repaint_area);
}

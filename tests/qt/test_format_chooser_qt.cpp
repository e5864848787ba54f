// The Qt format chooser, reached through the window layer as the recording
// format's choice reaches it: the tags and their formats with details, the
// preselected row, mouse and keyboard choices, Cancel and Escape, Polish.
#include <gtest/gtest.h>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <cstring>
#include <string>
#include "platform/acm/acm.h"
#include "platform/qt/format_chooser_qt.h"
#include "platform/system/system.h"
#include "qt_test_app.h"

namespace {
struct FormatChooserQt : testing::Test {
    const format_choice* list = nullptr;
    int count = 0;
    void SetUp() override
    {
        qt_test_start();
        count = acm_format_choices(&list);
        ASSERT_GT(count, 0);
    }
    void TearDown() override { set_ui_language(LANG_ENGLISH); }
    int index_of(const char* spelling) const
    {
        for (int i = 0; i < count; ++i)
            if (!std::strcmp(list[i].spelling, spelling))
                return i;
        return -2;
    }
};

void key(QWidget* w, int k)
{
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

QDialog* chooser(QWidget* w)
{
    return w->objectName() == QStringLiteral(FORMAT_CHOOSER_OBJECT) ? qobject_cast<QDialog*>(w) : nullptr;
}
QComboBox* tags(QWidget* d) { return d->findChild<QComboBox*>(QStringLiteral(FORMAT_CHOOSER_TAGS)); }
QTableWidget* formats(QWidget* d) { return d->findChild<QTableWidget*>(QStringLiteral(FORMAT_CHOOSER_FORMATS)); }
QPushButton* button(QWidget* d, QDialogButtonBox::StandardButton which)
{
    return d->findChild<QDialogButtonBox*>()->button(which);
}
} // namespace

TEST_F(FormatChooserQt, ShowsEveryTagAndTheTagsFormatsWithTheirDetails)
{
    QStringList tag_names, first_row, ima_row;
    int ima_rows = 0;
    bool ok_enabled = false;
    qt_test_answer_modal([&](QWidget* w) {
        QDialog* d = chooser(w);
        if (!d)
            return false;
        for (int i = 0; i < tags(d)->count(); ++i)
            tag_names << tags(d)->itemText(i);
        QTableWidget* t = formats(d);
        int row = t->selectedItems().first()->row();
        for (int c = 0; c < 5; ++c)
            first_row << t->item(row, c)->text();
        tags(d)->setCurrentIndex(tags(d)->findText(QStringLiteral("IMA ADPCM")));
        ima_rows = t->rowCount();
        row = t->selectedItems().first()->row();
        for (int c = 0; c < 5; ++c)
            ima_row << t->item(row, c)->text();
        ok_enabled = button(d, QDialogButtonBox::Ok)->isEnabled();
        button(d, QDialogButtonBox::Ok)->click();
        return true;
    });
    int picked = format_chooser_dialog(nullptr, list, count);
    EXPECT_EQ(tag_names, (QStringList{"PCM", "ADPCM", "IMA ADPCM", "A-Law", "μ-Law", "GSM 6.10", "MPEG Layer-3"}));
    // The row preselected for a tag is CD rate in stereo, so OK alone takes a sensible format.
    EXPECT_EQ(first_row, (QStringList{"44.100 kHz, 16 Bit, Stereo", "44100", "16", "Stereo", "176400"}));
    EXPECT_EQ(ima_rows, 14);
    EXPECT_EQ(ima_row, (QStringList{"44.100 kHz, 4 Bit, Stereo", "44100", "4", "Stereo", "44251"}));
    EXPECT_TRUE(ok_enabled);
    EXPECT_EQ(picked, index_of("ima-adpcm,44100,2"));
}

TEST_F(FormatChooserQt, TheKeyboardAloneChoosesATagAndAFormat)
{
    qt_test_answer_modal([&](QWidget* w) {
        QDialog* d = chooser(w);
        if (!d)
            return false;
        QComboBox* c = tags(d);
        for (int i = 0; i < 5; ++i)
            key(c, Qt::Key_Down);                  // PCM -> ... -> GSM 6.10
        QTableWidget* t = formats(d);
        t->setFocus();
        key(t, Qt::Key_Home);                      // GSM 8.000 kHz
        key(t, Qt::Key_Down);                      // GSM 11.025 kHz
        key(t, Qt::Key_Return);                    // the default button: OK
        return true;
    });
    EXPECT_EQ(format_chooser_dialog(nullptr, list, count), index_of("gsm,11025,1"));
}

TEST_F(FormatChooserQt, DoubleClickTakesTheRowCancelAndEscapeTakeNothing)
{
    qt_test_answer_modal([&](QWidget* w) {
        QDialog* d = chooser(w);
        if (!d)
            return false;
        tags(d)->setCurrentIndex(tags(d)->findText(QStringLiteral("MPEG Layer-3")));
        QTableWidget* t = formats(d);
        for (int r = 0; r < t->rowCount(); ++r)
            if (t->item(r, 0)->text() == QStringLiteral("192 kBit/s, 48.000 kHz, Mono")) {
                t->selectRow(r);
                emit t->cellDoubleClicked(r, 0);
            }
        return true;
    });
    EXPECT_EQ(format_chooser_dialog(nullptr, list, count), index_of("mp3,48000,1,192"));

    qt_test_answer_modal([&](QWidget* w) {
        if (!chooser(w))
            return false;
        button(w, QDialogButtonBox::Cancel)->click();
        return true;
    });
    EXPECT_EQ(format_chooser_dialog(nullptr, list, count), -1);

    qt_test_answer_modal([&](QWidget* w) {
        if (!chooser(w))
            return false;
        key(formats(w), Qt::Key_Escape);
        return true;
    });
    EXPECT_EQ(format_chooser_dialog(nullptr, list, count), -1);
}

TEST_F(FormatChooserQt, PolishTexts)
{
    set_ui_language(LANG_POLISH);
    QString title, cancel, header;
    qt_test_answer_modal([&](QWidget* w) {
        QDialog* d = chooser(w);
        if (!d)
            return false;
        title = d->windowTitle();
        cancel = button(d, QDialogButtonBox::Cancel)->text();
        header = formats(d)->horizontalHeaderItem(3)->text();
        d->reject();
        return true;
    });
    EXPECT_EQ(format_chooser_dialog(nullptr, list, count), -1);
    EXPECT_EQ(title, QStringLiteral("Format nagrania"));
    EXPECT_EQ(cancel, QStringLiteral("Anuluj"));
    EXPECT_EQ(header, QStringLiteral("Kanały"));
}

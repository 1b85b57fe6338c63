#pragma once
#include <QString>
#include <QStringList>

#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QFont;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;
class QWidget;

namespace qv::app {

// The forms' own font: Tahoma at 11 pixels, or the nearest the desktop has.
QFont FormFont();

// A push button that neither Enter nor Escape presses.
QPushButton* FormButton(QWidget* parent, const char* name, const QString& caption, int x, int y, int width);

// Lays controls out top to bottom at fixed places, as forms with a fixed
// client area have them; a group's height follows what it holds. Labels
// wrap and take the height their text needs in the form's font, so nothing
// overlaps whatever font the desktop substitutes.
class FormColumn {
public:
    FormColumn(QWidget* parent, int x, int y, int width);

    QLabel* Text(const char* name, const QString& text, int gapAfter = 8);
    QCheckBox* Check(const char* name, const QString& caption);
    QRadioButton* Radio(const char* name, const QString& caption);
    QComboBox* Combo(const char* name, const QStringList& items, int width = -1);
    // A labelled edit: its label above it (named <name>Label, the edit its
    // buddy), a browse button beside it when `browseName` is given.
    QLineEdit* Edit(const char* name, const QString& caption, const char* browseName = nullptr,
                    QToolButton** browse = nullptr, int width = -1);
    // A date picker on the line of the control placed last, at `x`.
    QDateEdit* Date(const char* name, int x, int width);
    QGroupBox* BeginGroup(const char* name, const QString& title);
    void EndGroup();
    // Side-by-side columns: each Column starts at the row's top, at `x`
    // from the frame's left; Row() goes on below the longest one.
    void Column(int x, int width);
    void Row();
    void Skip(int pixels) { frame().y += pixels; }
    int Bottom() const { return frames_.back().y; }
    QWidget* Parent() const { return frames_.back().parent; }

private:
    struct Frame {
        QWidget* parent;
        QGroupBox* group;
        int x, y, width;
        bool inRow = false;
        int colX = 0, colY = 0, colWidth = 0, rowBottom = 0;
        int left() const { return inRow ? colX : x; }
        int top() const { return inRow ? colY : y; }
        int span() const { return inRow ? colWidth : width; }
    };
    Frame& frame() { return frames_.back(); }
    // Where the next control of `height` goes; advances the cursor.
    QWidget* Place(QWidget* widget, const char* name, int height, int width = -1, int gapAfter = 6);

    std::vector<Frame> frames_;
    int lastTop_ = 0;
};

} // namespace qv::app

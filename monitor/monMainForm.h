// The main window's controls as the form lays them out: positions, captions, object names and
// fonts. The window wires their handlers and fills them; nothing here knows of a meter.
#pragma once

#include <QHeaderView>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTableWidget;

namespace qz {

// The grid item role that holds a cell's limit marker (a TmonColor).
constexpr int kmonGridMarkerRole = Qt::UserRole + 1;

// The spectrum picture; a press anywhere reports its x.
class TmonSpectrumImage : public QWidget {
public:
    explicit TmonSpectrumImage(QWidget* parent);
    QImage Image;
    std::function<void(int)> OnMouseDown;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
};

// The grid's header row; the angle symbol sits before the angle column's caption.
class TmonGridHeader : public QHeaderView {
public:
    TmonGridHeader(QWidget* parent, const QPixmap& icon);
    bool AngleIcon = false;

protected:
    void paintSection(QPainter* p, const QRect& rect, int logicalIndex) const override;

private:
    QPixmap Icon;
};

// The pictures the grid and its header draw with.
struct TmonFormIcons {
    QPixmap Angle, Normal, Max;
};

// The controls, named as in the form (tests find them by objectName as well).
struct TmonFormControls {
    QGroupBox *GroupBox1, *GroupBox2, *GroupBox3, *GroupBox4, *GroupBox5, *GroupBox6, *GroupBox7,
        *GroupBox8, *GroupBox9, *GroupBox10;
    QPushButton *BDevices, *BStart, *buSaveData, *BInc, *BDec;
    QCheckBox* ChkViewSinus;
    QCheckBox* ChkRecord; // "Запись"
    QPushButton* BTrends; // "Тренды"
    QComboBox *Combo_U, *Combo_I, *ComboBox1, *ComboBox2;
    QRadioButton *RB_whole, *RB_first;
    QLabel *LUnom, *LUnom_mf, *Label48, *L_I_nom, *L_freq, *L_delta_F;
    QLabel *L_U[4], *L_I[4], *L_fi_UI[4]; // a, b, c, N
    QLabel* L_U_line[3];                  // ab, bc, ca
    QLabel *L_U_seq[3], *L_I_seq[3], *L_fi_UI_seq[3];
    QLabel *L_K_0, *L_K_1;
    QLabel* L_P_hdr[3];  // L_P, L_Q, L_S
    QLabel* L_PQS[3][5]; // [P, Q, S][a, b, c, abc, n]
    QLabel* L_Cos[5];
    QLabel *L_K_U[4], *L_K_U_line[3], *L_K_I[4];
    QLabel *L_Yellow, *L_Green, *L_Red, *L_Blue;
    QLabel* LProgress; // the connect's progress; the link figures in its tooltip
    QScrollBar* ScrollBar1;
    QTableWidget* StringGrid1;
    TmonSpectrumImage* Image1;
    TmonGridHeader* GridHeader;
    QMenu* ContextMenu;    // shown on a right click
    QAction* TrendsAction; // "Тренды" of the menu
    QAction* TraceAction;  // "Трассировка линии"
    QAction* ResumeAction; // "Возобновлять опрос после ошибок"
};

// The text of the start button before a poll and during one.
extern const char* const kmonStartCaption; // "Старт"
extern const char* const kmonStopCaption;  // "Стоп"

// Lays out the window's controls on `form` (its font, size and frame included).
TmonFormControls BuildForm(QWidget* form, const TmonFormIcons& icons);

} // namespace qz

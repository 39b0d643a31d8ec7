// The window's widgets and menus as designed: fixed positions in twips (15 to a pixel at 96 dpi)
// inside a 608 x 268 client area below the menu bar.
#include "frm_wattmeter.h"

#include "app/about.h"
#include "lamp.h"
#include "window_position.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace ui {

namespace {

constexpr int kClientWidth = 9120 / kTwipsPerPixel;
constexpr int kClientHeight = 4020 / kTwipsPerPixel;
constexpr int kBarMaximum = 1100;

const QColor kRed(0xFF, 0x00, 0x00);
const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kDarkGreen(0x00, 0x80, 0x00);

// Nothing is laid out automatically, so resizing the window moves and stretches nothing.
template <typename Widget>
Widget* place(Widget* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    const int px = kTwipsPerPixel;
    widget->setGeometry(left / px, top / px, width / px, height / px);
    return widget;
}

void setColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

QLineEdit* readingField(QWidget* client, const char* name, const char* text, int left, int top,
                        int width) {
    auto* field =
        place(new QLineEdit(QString::fromLatin1(text), client), name, left, top, width, 285);
    field->setReadOnly(true);
    return field;
}

QPlainTextEdit* logPane(QWidget* client, const char* name, int left, int top, int width,
                        int height) {
    auto* pane = place(new QPlainTextEdit(client), name, left, top, width, height);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A log pane needs no undo history; keeping one would grow without bound.
    pane->setUndoRedoEnabled(false);
    pane->setTabChangesFocus(true);
    return pane;
}

QPushButton* button(QWidget* client, const char* name, const char* caption, int left) {
    auto* b =
        place(new QPushButton(QString::fromLatin1(caption), client), name, left, 3240, 855, 615);
    // Enter and Escape press no button.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QProgressBar* bar(QWidget* client, const char* name, const char* tooltip, int top) {
    auto* b = place(new QProgressBar(client), name, 840, top, 3495, 255);
    b->setRange(0, kBarMaximum);
    b->setValue(0);
    b->setTextVisible(false);
    b->setToolTip(QString::fromLatin1(tooltip));
    return b;
}

QLabel* label(QWidget* client, const char* name, const char* caption, int left, int top,
              int width) {
    auto* l = place(new QLabel(QString::fromLatin1(caption), client), name, left, top, width, 255);
    l->setTextFormat(Qt::PlainText);
    return l;
}

Lamp* lamp(QWidget* client, const char* name, int top) {
    return place(new Lamp(client), name, 4440, top, 255, 375);
}

// The captions were sized for a small user-interface font. Keep the platform's own font but
// shrink it, for the whole window, until every caption fits its fixed box.
QFont fittedFont(QWidget* client, QFont font) {
    constexpr qreal kSmallestPoints = 6.0;
    const auto fits = [client](const QFont& candidate) {
        const QFontMetrics metrics(candidate);
        for (const QLabel* l : client->findChildren<QLabel*>())
            if (metrics.horizontalAdvance(l->text()) > l->width())
                return false;
        for (const QPushButton* b : client->findChildren<QPushButton*>())
            if (metrics.horizontalAdvance(QString(b->text()).remove(u'&')) > b->width() - 8)
                return false;
        return true;
    };
    while (!fits(font) && font.pointSizeF() > kSmallestPoints)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    return font;
}

} // namespace

void frmWattmeter::createWidgets() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    // Creation order as designed.
    txtITotal = readingField(client, "txtITotal", "ITotal", 1440, 1200, 975);
    txtI4 = readingField(client, "txtI4", "I4", 4080, 1200, 495);
    txtI3 = readingField(client, "txtI3", "I3", 4080, 840, 495);
    txtI2 = readingField(client, "txtI2", "I2", 4080, 480, 495);
    txtI1 = readingField(client, "txtI1", "I1", 4080, 120, 495);

    txtAlarms = logPane(client, "txtAlarms", 840, 2400, 3975, 645);
    txtAlarms->setAutoFillBackground(true);
    setColor(txtAlarms, QPalette::Base, kRed);
    setColor(txtAlarms, QPalette::Text, kWhite);

    Current = button(client, "Current", "&Current", 1080);
    Status = button(client, "Status", "&Status", 2040);

    txtTerm = logPane(client, "txtTerm", 5160, 120, 3855, 3735);
    txtTerm->setReadOnly(true);
    // Read-only panes hide the caret; the terminal shows where typing goes.
    txtTerm->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtTerm->setPlainText(QStringLiteral("\t\n"));

    Reset = button(client, "Reset", "&Reset", 3000);
    prgBar1 = bar(client, "prgBar1", "Forward Power", 1560);
    Exit = button(client, "Exit", "E&xit", 3960);

    txtVSWR = readingField(client, "txtVSWR", "VSWR", 1440, 840, 975);
    txtReflected = readingField(client, "txtReflected", "Reflected", 1440, 480, 975);
    txtForward = readingField(client, "txtForward", "Forward", 1440, 120, 975);
    Read = button(client, "Read", "&Power", 120);
    prgBar2 = bar(client, "prgBar2", "Reflected Power", 1920);

    shpLow = lamp(client, "shpLow", 1920);
    label(client, "Label15", "6m", 4800, 2040, 255);
    label(client, "Label14", "2m", 4800, 1680, 255);
    shpHigh = lamp(client, "shpHigh", 1560);
    label(client, "Label13", "Total Current", 120, 1200, 1335);
    label(client, "Label12", "Stage 4 Current", 2760, 1200, 1335);
    label(client, "Label11", "Stage 3 Current", 2760, 840, 1335);
    label(client, "Label10", "Stage 2 Current", 2760, 480, 1335);
    label(client, "Label9", "Stage 1 Current", 2760, 120, 1335);
    setColor(label(client, "Label8", "ALARMS:", 0, 2640, 735), QPalette::WindowText, kRed);
    setColor(label(client, "Label7", "REF:", 240, 1920, 495), QPalette::WindowText, kRed);
    setColor(label(client, "Label6", "FWD:", 240, 1560, 495), QPalette::WindowText, kDarkGreen);
    setColor(label(client, "Label5", "1100", 4080, 2160, 375), QPalette::WindowText, kRed);
    label(client, "Label4", "0                              500", 840, 2160, 1815);
    label(client, "Label3", "VSWR", 120, 840, 1215);
    label(client, "Label2", "Reflected Power", 120, 480, 1335);
    label(client, "Label1", "Forward Power", 120, 120, 1215);

    setFont(fittedFont(client, font()));

    // Screen readers name each value by the caption beside it.
    const std::pair<QWidget*, const char*> captions[] = {{txtForward, "Forward Power"},
                                                         {txtReflected, "Reflected Power"},
                                                         {txtVSWR, "VSWR"},
                                                         {txtI1, "Stage 1 Current"},
                                                         {txtI2, "Stage 2 Current"},
                                                         {txtI3, "Stage 3 Current"},
                                                         {txtI4, "Stage 4 Current"},
                                                         {txtITotal, "Total Current"},
                                                         {prgBar1, "Forward Power"},
                                                         {prgBar2, "Reflected Power"},
                                                         {shpHigh, "2m"},
                                                         {shpLow, "6m"},
                                                         {txtAlarms, "Alarms"},
                                                         {txtTerm, "Terminal"}};
    for (const auto& [widget, caption] : captions)
        widget->setAccessibleName(QString::fromLatin1(caption));

    // Tab order by tab index; labels, bars and lamps take no focus.
    QWidget* const chain[] = {txtForward, txtTerm, Read,         Current, Status,
                              Reset,      Exit,    txtReflected, txtVSWR, txtAlarms,
                              txtI1,      txtI2,   txtI3,        txtI4,   txtITotal};
    for (std::size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);
    txtForward->setFocus();

    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

void frmWattmeter::createMenus() {
    auto addItem = [](QMenu* menu, const QString& name, const QString& caption) {
        QAction* item = menu->addAction(caption);
        item->setObjectName(name);
        item->setCheckable(true);
        return item;
    };

    mnuPorts = menuBar()->addMenu(QStringLiteral("P&orts"));
    mnuPorts->setObjectName(QStringLiteral("mnuPorts"));
    for (int n = 1; n <= seriallink::kPortCount; ++n) {
        // Com1 to Com9 take their digit as access key; Com10 to Com16 have none.
        const QString caption =
            n < 10 ? QStringLiteral("Com&%1").arg(n) : QStringLiteral("Com%1").arg(n);
        mnuPortsCom[n - 1] = addItem(mnuPorts, QStringLiteral("mnuPortsCom%1").arg(n), caption);
    }

    PollInterval = menuBar()->addMenu(QStringLiteral("P&olling"));
    PollInterval->setObjectName(QStringLiteral("PollInterval"));
    mnuPollDisabled =
        addItem(PollInterval, QStringLiteral("mnuPollDisabled"), QStringLiteral("&Disabled"));
    mnuPollDisabled->setChecked(true);
    mnuPoll1 = addItem(PollInterval, QStringLiteral("mnuPoll1"), QStringLiteral("&Enabled"));
    mnuPollCurrent =
        addItem(PollInterval, QStringLiteral("mnuPollCurrent"), QStringLiteral("&Include Current"));

    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelpAbout = mnuHelp->addAction(QLatin1Char('&') + app::aboutTitle());
    mnuHelpAbout->setObjectName(QStringLiteral("mnuHelpAbout"));
}

} // namespace ui

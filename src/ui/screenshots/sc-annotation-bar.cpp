#include "sc-annotation-bar.h"

#include "sc-annotation-editor.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

constexpr int PREVIEW_SIZE = 24;
constexpr int SLIDER_WIDTH = 80;

struct ToolEntry
{
    SCAnnotation::Tool tool;
    const char *name;
    const char *icon;
    int key;
};

const ToolEntry TOOLS[] = {
        {SCAnnotation::Tool::Select, "selectButton", "select", Qt::Key_V},
        {SCAnnotation::Tool::Pen, "drawButton", "pen", Qt::Key_P},
        {SCAnnotation::Tool::Line, "lineButton", "line", Qt::Key_L},
        {SCAnnotation::Tool::Arrow, "arrowButton", "arrow", Qt::Key_A},
        {SCAnnotation::Tool::Rectangle, "rectangleButton", "rectangle", Qt::Key_R},
        {SCAnnotation::Tool::Ellipse, "ellipseButton", "ellipse", Qt::Key_E},
        {SCAnnotation::Tool::Marker, "markerButton", "marker", Qt::Key_M},
        {SCAnnotation::Tool::Text, "textButton", "text", Qt::Key_T},
        {SCAnnotation::Tool::Step, "stepButton", "step", Qt::Key_N},
        {SCAnnotation::Tool::Pixelate, "pixelateButton", "pixelate", Qt::Key_X},
        {SCAnnotation::Tool::Blur, "blurButton", "blur", Qt::Key_B},
};

QString iconPath(const QString &name, bool white)
{
    return QStringLiteral(":/res/forms/images/%1%2.svg")
            .arg(name, white ? QStringLiteral("-white") : QString());
}

QString withKey(const QString &text, const QKeySequence &key)
{
    return QStringLiteral("%1 (%2)").arg(text, key.toString(QKeySequence::NativeText));
}

QIcon swatch(const QColor &color, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x99, 0xA1, 0xB0), 1));
    painter.setBrush(color);
    painter.drawEllipse(QRectF(1.5, 1.5, size - 3, size - 3));
    return QIcon(pixmap);
}

} // namespace

SCAnnotationBar::SCAnnotationBar(QWidget *parent)
    : QWidget(parent,
              Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::Tool
                      | Qt::NoDropShadowWindowHint | Qt::WindowDoesNotAcceptFocus
                      | Qt::X11BypassWindowManagerHint)
{
    setObjectName(QStringLiteral("buttonBackground"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_StyledBackground);

    const QString toolTips[] = {
            tr("Select and Move"), tr("Start Drawing"), tr("Line"),   tr("Arrow"),
            tr("Rectangle"),       tr("Ellipse"),       tr("Marker"), tr("Text"),
            tr("Numbered Step"),   tr("Pixelate"),      tr("Blur"),
    };
    auto *tools = new QHBoxLayout;
    int index = 0;
    for (const ToolEntry &entry : TOOLS) {
        QPushButton *button
                = makeButton(QString::fromLatin1(entry.name), QString::fromLatin1(entry.icon),
                             withKey(toolTips[index++], QKeySequence(entry.key)));
        button->setCheckable(true);
        const Tool tool = entry.tool;
        connect(button, &QPushButton::clicked, this,
                [this, tool] { emit toolChosen(m_tool == tool ? Tool::None : tool); });
        m_toolButtons.insert(tool, button);
        tools->addWidget(button);
    }
    m_filledButton = makeButton(QStringLiteral("filledButton"), QStringLiteral("filled"),
                                tr("Filled Shapes"));
    m_filledButton->setCheckable(true);
    connect(m_filledButton, &QPushButton::toggled, this, [this](bool filled) {
        updateIcon(m_filledButton);
        emit filledToggled(filled);
    });
    tools->addWidget(m_filledButton);

    m_colorButton = makeButton(QStringLiteral("colorButton"), QString(), tr("Colour"));
    connect(m_colorButton, &QPushButton::clicked, this, &SCAnnotationBar::showPalette);
    tools->addWidget(m_colorButton);

    m_thicknessSlider = new QSlider(Qt::Horizontal, this);
    m_thicknessSlider->setObjectName(QStringLiteral("thicknessSlider"));
    m_thicknessSlider->setRange(SCAnnotationEditor::MIN_THICKNESS,
                                SCAnnotationEditor::MAX_THICKNESS);
    m_thicknessSlider->setFixedWidth(SLIDER_WIDTH);
    m_thicknessSlider->setFocusPolicy(Qt::NoFocus);
    m_thicknessSlider->setToolTip(tr("Thickness"));
    connect(m_thicknessSlider, &QSlider::valueChanged, this, [this](int value) {
        m_thickness = value;
        updatePreview();
        emit thicknessChosen(value);
    });
    tools->addWidget(m_thicknessSlider);
    m_preview = new QLabel(this);
    m_preview->setObjectName(QStringLiteral("thicknessPreview"));
    m_preview->setFixedSize(PREVIEW_SIZE, BUTTON_SIZE);
    tools->addWidget(m_preview);

    const auto action = [this](Action which, const QString &name, const QString &icon,
                               const QString &toolTip) {
        QPushButton *button = makeButton(name, icon, toolTip);
        connect(button, &QPushButton::clicked, this,
                [this, which] { emit actionTriggered(which); });
        m_actionButtons.insert(which, button);
        return button;
    };
    auto *actions = new QHBoxLayout;
    actions->addWidget(action(Action::Undo, QStringLiteral("undoButton"), QStringLiteral("undo"),
                              withKey(tr("Undo"), QKeySequence::Undo)));
    actions->addWidget(action(Action::Redo, QStringLiteral("redoButton"), QStringLiteral("redo"),
                              withKey(tr("Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z))));
    actions->addWidget(action(Action::Clear, QStringLiteral("clearButton"), QStringLiteral("clear"),
                              tr("Clear Drawing")));
    actions->addStretch();
    actions->addWidget(action(Action::CopyText, QStringLiteral("copyTextButton"),
                              QStringLiteral("copy-text"), tr("Copy Text")));
    actions->addWidget(action(Action::Pin, QStringLiteral("pinButton"), QStringLiteral("pin"),
                              tr("Pin to Screen")));
    actions->addWidget(
            action(Action::SaveAs, QStringLiteral("saveAsButton"), QStringLiteral("save-as"),
                   withKey(tr("Save As"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S))));
    actions->addWidget(action(
            Action::Copy, QStringLiteral("copyButton"), QStringLiteral("copy"),
            tr("Copy (%1)")
                    .arg(QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText))));
    actions->addWidget(action(Action::Save, QStringLiteral("saveButton"), QStringLiteral("capture"),
                              withKey(tr("Capture"), QKeySequence::Save)));
    actions->addWidget(action(Action::Cancel, QStringLiteral("cancelButton"),
                              QStringLiteral("close"),
                              withKey(tr("Close Window"), QKeySequence(Qt::Key_Escape))));

    auto *rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    for (QHBoxLayout *row : {tools, actions}) {
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(0);
        rows->addLayout(row);
    }
    setCanUndo(false);
    setCanRedo(false);
    setColor(m_color);
    setThickness(m_thickness);
    adjustSize();
}

QPushButton *SCAnnotationBar::makeButton(const QString &name, const QString &icon,
                                         const QString &toolTip)
{
    auto *button = new QPushButton(this);
    button->setObjectName(name);
    button->setToolTip(toolTip);
    button->setFixedSize(BUTTON_SIZE, BUTTON_SIZE);
    button->setFocusPolicy(Qt::NoFocus);
    button->installEventFilter(this);
    if (!icon.isEmpty()) {
        m_icons.insert(button, icon);
        updateIcon(button);
    }
    return button;
}

void SCAnnotationBar::updateIcon(QPushButton *button)
{
    const QString name = m_icons.value(button);
    if (name.isEmpty())
        return;
    // A tool that is on stays lit.
    const bool white = button->underMouse() || button->isChecked();
    button->setIcon(QIcon(iconPath(name, white)));
}

bool SCAnnotationBar::eventFilter(QObject *watched, QEvent *event)
{
    auto *button = qobject_cast<QPushButton *>(watched);
    if (button
        && (event->type() == QEvent::Enter || event->type() == QEvent::Leave
            || event->type() == QEvent::EnabledChange))
        updateIcon(button);
    return QWidget::eventFilter(watched, event);
}

SCAnnotation::Tool SCAnnotationBar::toolForKey(int key)
{
    for (const ToolEntry &entry : TOOLS) {
        if (entry.key == key)
            return entry.tool;
    }
    return Tool::None;
}

QList<QColor> SCAnnotationBar::palette()
{
    return {QColor(0xE5, 0x39, 0x35), QColor(0xFB, 0x8C, 0x00), QColor(0xFF, 0xEB, 0x3B),
            QColor(0x43, 0xA0, 0x47), QColor(0x1E, 0x88, 0xE5), QColor(0x8E, 0x24, 0xAA),
            QColor(Qt::black),        QColor(Qt::white)};
}

QPushButton *SCAnnotationBar::toolButton(Tool tool) const
{
    return m_toolButtons.value(tool);
}

QPushButton *SCAnnotationBar::actionButton(Action action) const
{
    return m_actionButtons.value(action);
}

void SCAnnotationBar::setTool(SCAnnotation::Tool tool)
{
    m_tool = tool;
    for (auto it = m_toolButtons.cbegin(); it != m_toolButtons.cend(); ++it) {
        it.value()->setChecked(it.key() == tool);
        updateIcon(it.value());
    }
}

void SCAnnotationBar::setColor(const QColor &color)
{
    m_color = color;
    m_colorButton->setIcon(swatch(color, BUTTON_SIZE - 12));
    updatePreview();
}

void SCAnnotationBar::setThickness(int thickness)
{
    m_thickness = thickness;
    const QSignalBlocker blocker(m_thicknessSlider);
    m_thicknessSlider->setValue(thickness);
    updatePreview();
}

void SCAnnotationBar::setFilled(bool filled)
{
    const QSignalBlocker blocker(m_filledButton);
    m_filledButton->setChecked(filled);
    updateIcon(m_filledButton);
}

void SCAnnotationBar::setCanUndo(bool canUndo)
{
    m_actionButtons.value(Action::Undo)->setEnabled(canUndo);
}

void SCAnnotationBar::setCanRedo(bool canRedo)
{
    m_actionButtons.value(Action::Redo)->setEnabled(canRedo);
}

void SCAnnotationBar::updatePreview()
{
    if (!m_preview)
        return;
    // A dot as wide as the line the tools draw.
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(QSize(PREVIEW_SIZE, BUTTON_SIZE) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    const qreal d = qMin<qreal>(m_thickness, PREVIEW_SIZE - 2);
    painter.drawEllipse(QPointF(PREVIEW_SIZE / 2.0, BUTTON_SIZE / 2.0), d / 2, d / 2);
    painter.end();
    m_preview->setPixmap(pixmap);
}

void SCAnnotationBar::showPalette()
{
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("paletteMenu"));
    const QString names[] = {tr("Red"),  tr("Orange"), tr("Yellow"), tr("Green"),
                             tr("Blue"), tr("Purple"), tr("Black"),  tr("White")};
    const QList<QColor> colors = palette();
    for (int i = 0; i < colors.size(); ++i) {
        QAction *entry = menu.addAction(swatch(colors.at(i), 16), names[i]);
        const QColor color = colors.at(i);
        connect(entry, &QAction::triggered, this, [this, color] {
            setColor(color);
            emit colorChosen(color);
        });
    }
    menu.addSeparator();
    connect(menu.addAction(tr("Custom Colour...")), &QAction::triggered, this,
            &SCAnnotationBar::customColorRequested);
    menu.exec(m_colorButton->mapToGlobal(QPoint(0, m_colorButton->height())));
}

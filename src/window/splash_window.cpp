#include "splash_window.h"

#include "cool_gauge.h"
#include "program_folder.h"
#include "threaded_timer.h"

#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <QtDebug>

namespace {

constexpr int kClientWidth = 339;
constexpr int kClientHeight = 72;
constexpr int kGaugeHeight = 18;
constexpr int kTicks = 20; // the gauge's maximum: twenty ticks of 100 ms

const QColor kNavy(0, 0, 128);
const QColor kSilver(192, 192, 192);

void paint_background(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace

Tform_abertura::Tform_abertura(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("form_abertura"));
    build_ui();
    tempo = new TThreadedTimer(this);
    tempo->setInterval(100);
    tempo->OnTimer = [this](QObject* sender) { tempoTimer(sender); };
    FormCreate();
    tempo->setEnabled(true);
}

Tform_abertura::~Tform_abertura() {
    // The timer's handler refers to this window: stop it before the members go.
    delete tempo;
    tempo = nullptr;
}

void Tform_abertura::build_ui() {
    setFixedSize(kClientWidth, kClientHeight);
    paint_background(this, Qt::black);
    setCursor(Qt::WaitCursor);

    Panel17 = new QWidget(this);
    Panel17->setObjectName(QStringLiteral("Panel17"));
    paint_background(Panel17, Qt::black);

    Panel18 = new QLabel(QStringLiteral("AGUARDE..."), Panel17);
    Panel18->setObjectName(QStringLiteral("Panel18"));
    Panel18->setAlignment(Qt::AlignCenter);
    paint_background(Panel18, kNavy);
    QFont big = Panel18->font();
    big.setBold(true);
    big.setPixelSize(19);
    Panel18->setFont(big);
    QPalette text = Panel18->palette();
    text.setColor(QPalette::WindowText, kSilver);
    Panel18->setPalette(text);

    CoolGauge1 = new TCoolGauge(Panel17);
    CoolGauge1->setObjectName(QStringLiteral("CoolGauge1"));
    CoolGauge1->setFixedHeight(kGaugeHeight);
    CoolGauge1->setBorderStyle(bsNone);
    CoolGauge1->setBackColor(kNavy);
    CoolGauge1->setFontColor(kSilver);

    auto* inner = new QVBoxLayout(Panel17);
    inner->setContentsMargins(0, 0, 0, 0);
    inner->setSpacing(0);
    inner->addWidget(Panel18, 1);
    inner->addWidget(CoolGauge1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(Panel17);
}

void Tform_abertura::FormCreate() {
    const QString logs = PASTA_PROGRAMA() + QStringLiteral("LOGS/");
    if (!QDir(logs).exists() && !QDir().mkpath(logs))
        qWarning().noquote() << "Não foi possível criar a pasta de logs" << logs;
    CoolGauge1->setText(QStringLiteral("Atualizando Sistema..."));
}

void Tform_abertura::tempoTimer(QObject*) {
    CoolGauge1->setMaxValue(kTicks);
    tempo->Tag += 1;
    CoolGauge1->setProgress(tempo->Tag);
    if (tempo->Tag == CoolGauge1->MaxValue() / 2) {
        // Re-enabling restarts the interval from now, as the counting resumes with the
        // percentage shown.
        tempo->setEnabled(false);
        CoolGauge1->setText(QStringLiteral("Atualizando Sistema %d%%"));
        tempo->setEnabled(true);
    }
    if (tempo->Tag >= kTicks) {
        tempo->setEnabled(false);
        close();
    }
}

void Tform_abertura::showEvent(QShowEvent* event) {
    centre_on_screen();
    QDialog::showEvent(event);
}

void Tform_abertura::centre_on_screen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

// Set-point fields that Enter sends: a value that differs from the one last
// sent (or taken from the board) is marked until Enter sends it, so an arrow
// click or PgUp never looks like a change the board has; Esc brings the sent
// value back.
#include "laser_object.h"

#include "driver_type.h"
#include "widget_sync.h"

#include <QDoubleSpinBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>

namespace {

const char unsent_style[] = "QDoubleSpinBox { background-color: #ffe08a; }";

// Esc in a field: restore. Other keys go on to the field.
class escape_restores : public QObject
{
public:
    escape_restores(QObject* parent, std::function<void(QDoubleSpinBox*)> restore)
        : QObject(parent), restore(std::move(restore))
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape)
            return false;
        auto* spin = qobject_cast<QDoubleSpinBox*>(watched);
        if (!spin)
            return false;
        restore(spin);
        return true;
    }

private:
    std::function<void(QDoubleSpinBox*)> restore;
};

} // namespace

void laser_object::watch_entry()
{
    auto* filter = new escape_restores(this, [this](QDoubleSpinBox* spin) {
        if (const std::optional<double> sent = sent_value(spin))
            spin->setValue(*sent);
        show_unsent();
    });
    using spin_value = void (QDoubleSpinBox::*)(double);
    for (QDoubleSpinBox* spin : entry_spins()) {
        spin->installEventFilter(filter);
        // The refresh says it once, at its end.
        connect(spin, static_cast<spin_value>(&QDoubleSpinBox::valueChanged), this, [this] {
            if (!refreshing)
                show_unsent();
        });
        // After the field's own sending slot, connected before.
        connect(spin->findChild<QLineEdit*>(), &QLineEdit::returnPressed, this, [this] { show_unsent(); });
        spin->setProperty("plain_tooltip", spin->toolTip());
    }
}

std::array<QDoubleSpinBox*, 4> laser_object::entry_spins() const
{
    return {curr_spin, temp_spin, pulse_temp_spin, volt_spin};
}

std::optional<double> laser_object::sent_value(const QDoubleSpinBox* spin) const
{
    const int32_t type = worker->device_type.load();
    const pulse_model_struct* pulse = live_pulse_model();
    if (spin == curr_spin && driver_type::is_cw_family(type))
        return worker->cw_model.current_set;
    if (spin == curr_spin && type == driver_type::power_dcdc)
        return worker->dcdc_model.current_set;
    if (spin == temp_spin && driver_type::is_cw_family(type))
        return worker->cw_model.temp_set;
    if (spin == pulse_temp_spin && pulse)
        return pulse->temp_set;
    if (spin == volt_spin && pulse)
        return pulse->voltage_set;
    return std::nullopt;
}

void laser_object::show_unsent()
{
    const std::array<QDoubleSpinBox*, 4> spins = entry_spins();
    for (std::size_t i = 0; i < spins.size(); ++i) {
        QDoubleSpinBox* const spin = spins[i];
        // A board's value read back but not yet in its field (one per refresh) is no operator's change.
        const int slot = spin == curr_spin ? sync_slot::current : spin == volt_spin ? sync_slot::voltage : sync_slot::temperature;
        if (setpoint_sync[size_t(slot)] == sync_state::adopted)
            continue;
        const std::optional<double> sent = sent_value(spin);
        // A board's value beyond the field's range is shown at the range's end (see reload_adopted).
        const bool unsent = sent && std::clamp(spin_rounded(spin, *sent), spin->minimum(), spin->maximum()) != spin->value();
        if (unsent == unsent_shown[i])
            continue;
        unsent_shown[i] = unsent;
        spin->setProperty("unsent", unsent);
        set_style_if_changed(spin, unsent ? QString::fromLatin1(unsent_style) : QString());
        spin->setToolTip(unsent ? tr("Not sent: Enter sends %1, Esc restores %2")
                                      .arg(spin->textFromValue(spin->value()), spin->textFromValue(*sent))
                                : spin->property("plain_tooltip").toString());
    }
}

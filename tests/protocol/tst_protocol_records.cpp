#include "cw_model_struct.h"
#include "dcdc_model_struct.h"
#include "driver_state.h"
#include "driver_type.h"
#include "ns_model_struct.h"
#include "ps_model_struct.h"

#include <QtTest>

#include <vector>

class tst_protocol_records : public QObject
{
    Q_OBJECT

private slots:
    void new_records_hold_the_defaults();
    void rate_list_and_mode_names();
    void dcdc_flag_text();
    void type_codes_and_names();
};

void tst_protocol_records::new_records_hold_the_defaults()
{
    const driver_state s;
    QCOMPARE(s.device_type.load(), 0);
    QCOMPARE(s.alive.load(), false);
    QCOMPARE(s.type_changed, false);

    const cw_model_struct& cw = s.cw_model;
    QCOMPARE(cw.can_id.load(), 0);
    QCOMPARE(cw.current_max, 150.0f);
    QCOMPARE(cw.current_min, 0.0f);
    QCOMPARE(cw.temp_max, 35.0f);
    QCOMPARE(cw.temp_min, 15.0f);
    QCOMPARE(cw.temp_limits_reported, 0);
    QCOMPARE(cw.laser_on, false);
    QCOMPARE(cw.max_tec_current, 0.0f);

    for (const pulse_model_struct* p : {static_cast<const pulse_model_struct*>(&s.ps_model),
                                        static_cast<const pulse_model_struct*>(&s.ns_model)}) {
        QCOMPARE(p->voltage_max, 1000000.0f);
        QCOMPARE(p->voltage_min, 0.0f);
        QCOMPARE(p->temp_max, 35.0f);
        QCOMPARE(p->temp_min, 15.0f);
        QCOMPARE(p->frequency, 1);
        QCOMPARE(p->frequency_set, 1);
        QCOMPARE(p->mode, 0);
        QCOMPARE(p->burst_enabled, 0);
        QCOMPARE(p->pulse_gated, 0);
    }
    QCOMPARE(s.ns_model.pulse_width, 1.0f);
    QCOMPARE(s.ns_model.pulse_width_max, 1000.0f);
    QCOMPARE(s.ns_model.pulse_width_min, 1.0f);
    QCOMPARE(s.ns_model.pulse_width_set, 0.0f);
    QCOMPARE(s.ns_model.max_duty_cycle, 0.02);
    QCOMPARE(s.ps_model.thermistor_r25, 0);

    const dcdc_model_struct& d = s.dcdc_model;
    QCOMPARE(d.current_max, 14.0f);
    QCOMPARE(d.current_min, 0.0f);
    QCOMPARE(d.temp_max, 70.0f);
    QCOMPARE(d.temp_min, 0.0f);
    QCOMPARE(d.fault_flags, uint16_t(0));
    QCOMPARE(d.warning_flags, uint16_t(0));
}

void tst_protocol_records::rate_list_and_mode_names()
{
    const std::vector<int32_t> rates = {
        1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100,
        200, 300, 400, 500, 600, 700, 800, 900, 1000,
        2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 11000,
        12500, 16000, 20000, 25000, 50000};
    QCOMPARE(int(rates.size()), 43);
    const QStringList names = {"Int: Normal", "Int: Burst", "Ext: Normal", "Ext: Burst",
                               "Pulse on Demand", "nullptr"};

    const ps_model_struct ps;
    const ns_model_struct ns;
    for (const pulse_model_struct* p : {static_cast<const pulse_model_struct*>(&ps),
                                        static_cast<const pulse_model_struct*>(&ns)}) {
        for (size_t k = 0; k < rates.size(); ++k)
            QCOMPARE(p->frequency_list[k], rates[k]);
        QCOMPARE(p->frequency_list[43], -1);
        for (int k = 44; k < 100; ++k)
            QCOMPARE(p->frequency_list[k], 0);
        for (int k = 0; k < 6; ++k)
            QCOMPARE(p->mode_names[k], names[k]);
    }
}

void tst_protocol_records::dcdc_flag_text()
{
    const dcdc_model_struct d;
    QCOMPARE(d.flag_texts.size(), 10);
    QCOMPARE(d.flag_texts[8], QString("Output voltage is higher than 80% of input voltage, \n"
                                      "SOLUTION: increase the input voltage"));

    struct flag_case
    {
        uint16_t flags;
        QString text;
    };
    const std::vector<flag_case> cases = {
        {0x0000, ""},
        {0x0005, "flag_NO_Load\nflag_Overtemp\n"},
        {0x00FA, "flag_ALARM_INTERLOCK\nflag_OverCurrent\nflag_UnderVoltage_IN\n"
                 "flag_OverVoltage_IN\nflag_UnderVoltage_OUT\nflag_OverVoltage_OUT\n"},
        {0x0100, "Output voltage is higher than 80% of input voltage, \n"
                 "SOLUTION: increase the input voltage\n"},
        {0x0201, "flag_NO_Load\nOutput power is close to MAX\n"},
        {0xFC00, ""},
        {0xFC04, "flag_Overtemp\n"},
    };
    for (const flag_case& c : cases)
        QCOMPARE(d.dcdc_flag_text(c.flags), c.text);
}

void tst_protocol_records::type_codes_and_names()
{
    struct type_case
    {
        int32_t code;
        const char* name;
        bool cw_family;
        bool ns_family;
    };
    const std::vector<type_case> cases = {
        {6, "NS Type", false, true},        {7, "PS Type", false, false},
        {8, "CW Type", true, false},        {10, "Precision CW Type", true, false},
        {11, "Power DCDC Type", false, false}, {13, "SOA NS Type", false, true},
        {0, "", false, false},              {-1, "", false, false},
        {2, "", false, false},              {9, "", false, false},
        {12, "", false, false},             {-6, "", false, false},
    };
    for (const type_case& c : cases) {
        QCOMPARE(driver_type::name(c.code), QString(c.name));
        QCOMPARE(driver_type::is_cw_family(c.code), c.cw_family);
        QCOMPARE(driver_type::is_ns_family(c.code), c.ns_family);
        QCOMPARE(driver_type::is_known(c.code), *c.name != '\0');
    }
}

QTEST_GUILESS_MAIN(tst_protocol_records)
#include "tst_protocol_records.moc"

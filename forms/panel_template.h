#pragma once

class QString;
class QWidget;

// Registers the embedded images of the static UI library (":/images/images/...").
// Safe to call more than once; the template builders call it themselves.
void init_ui_resources();

// Object-name suffix of a channel: none for channel 1, "_N" for channels 2..10.
QString channel_suffix(int channel);

// Sets the channel panel template up on `container` (which must have no layout yet),
// names the container "laser_widget<suffix>" and appends the suffix to every object
// name below it, so that channel 3 holds laser_group_box_3, curr_spin_3, ...
void build_laser_panel(QWidget* container, int channel);

// Same for one system configuration row: dev_conf_widget<suffix> with ind_label,
// addr, edit_name and dev_en, captioned "channel N".
void build_dev_conf_row(QWidget* container, int channel);

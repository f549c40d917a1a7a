// Accessible objects for the keys and the lights. GTK makes them when a
// screen reader first asks; each takes its name and role from the data its
// widget carries, and adds the checked and pressed states while its widget is on.
#include "platform/gtk/accessible.h"

#include <gtk/gtk-a11y.h>

namespace vimbrel {

namespace {

constexpr char kName[] = "vimbrel-accessible-name";
constexpr char kRole[] = "vimbrel-accessible-role";
constexpr char kOn[] = "vimbrel-accessible-on";
constexpr char kValue[] = "vimbrel-accessible-value";

gpointer g_keyParent = nullptr;
gpointer g_lightParent = nullptr;

void Describe(AtkObject* object, gpointer widget) {
    if (const auto* name = static_cast<const char*>(g_object_get_data(G_OBJECT(widget), kName)))
        atk_object_set_name(object, name);
    const int role = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), kRole));
    if (role != 0) atk_object_set_role(object, static_cast<AtkRole>(role));
    if (const auto* value = static_cast<const char*>(g_object_get_data(G_OBJECT(widget), kValue)))
        atk_object_set_description(object, value);
}

AtkStateSet* AddOnStates(AtkObject* object, AtkStateSet* states) {
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(object));
    if (widget && g_object_get_data(G_OBJECT(widget), kOn)) {
        atk_state_set_add_state(states, ATK_STATE_CHECKED);
        atk_state_set_add_state(states, ATK_STATE_PRESSED);
    }
    return states;
}

// The keys' and the lights' accessible classes differ only in the class they
// extend, kept in *parent: each names itself and adds the on states.
template <gpointer* parent>
void Initialize(AtkObject* object, gpointer widget) {
    ATK_OBJECT_CLASS(*parent)->initialize(object, widget);
    Describe(object, widget);
}
template <gpointer* parent>
AtkStateSet* States(AtkObject* object) {
    return AddOnStates(object, ATK_OBJECT_CLASS(*parent)->ref_state_set(object));
}
template <gpointer* parent>
void AccessibleClassInit(gpointer klass, gpointer) {
    *parent = g_type_class_peek_parent(klass);
    ATK_OBJECT_CLASS(klass)->initialize = Initialize<parent>;
    ATK_OBJECT_CLASS(klass)->ref_state_set = States<parent>;
}

GType KeyAccessibleType() {
    static const GType type = g_type_register_static_simple(
        GTK_TYPE_BUTTON_ACCESSIBLE, "VimbrelKeyAccessible", sizeof(GtkButtonAccessibleClass), AccessibleClassInit<&g_keyParent>,
        sizeof(GtkButtonAccessible), nullptr, GTypeFlags(0));
    return type;
}

GType LightAccessibleType() {
    static const GType type = g_type_register_static_simple(
        GTK_TYPE_WIDGET_ACCESSIBLE, "VimbrelLightAccessible", sizeof(GtkWidgetAccessibleClass),
        AccessibleClassInit<&g_lightParent>, sizeof(GtkWidgetAccessible), nullptr, GTypeFlags(0));
    return type;
}

}  // namespace

GType KeyButtonType() {
    static const GType type = g_type_register_static_simple(
        GTK_TYPE_BUTTON, "VimbrelKey", sizeof(GtkButtonClass),
        [](gpointer klass, gpointer) { gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), KeyAccessibleType()); },
        sizeof(GtkButton), nullptr, GTypeFlags(0));
    return type;
}

GType LightType() {
    static const GType type = g_type_register_static_simple(
        GTK_TYPE_DRAWING_AREA, "VimbrelLight", sizeof(GtkDrawingAreaClass),
        [](gpointer klass, gpointer) { gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), LightAccessibleType()); },
        sizeof(GtkDrawingArea), nullptr, GTypeFlags(0));
    return type;
}

void DescribeAccessible(GtkWidget* widget, const char* name, AtkRole role) {
    g_object_set_data(G_OBJECT(widget), kName, const_cast<char*>(name));
    g_object_set_data(G_OBJECT(widget), kRole, GINT_TO_POINTER(static_cast<int>(role)));
}

// The accessible object is touched only when the state changes: at start the
// data alone is set, and GTK makes no accessible object nobody asks for.
void SetAccessibleOn(GtkWidget* widget, bool on, const char* value, bool notify) {
    const bool was = g_object_get_data(G_OBJECT(widget), kOn) != nullptr;
    g_object_set_data(G_OBJECT(widget), kOn, on ? GINT_TO_POINTER(1) : nullptr);
    if (value) g_object_set_data(G_OBJECT(widget), kValue, const_cast<char*>(value));
    if (!notify || was == on) return;
    AtkObject* object = gtk_widget_get_accessible(widget);
    if (value) atk_object_set_description(object, value);
    atk_object_notify_state_change(object, ATK_STATE_CHECKED, on);
    atk_object_notify_state_change(object, ATK_STATE_PRESSED, on);
}

}  // namespace vimbrel

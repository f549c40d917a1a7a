// The widget types of the keys and the lights, whose accessible objects tell
// screen readers a key's full name and role, and whether it or a light is on.
#pragma once

#include <gtk/gtk.h>

namespace vimbrel {

GType KeyButtonType();  // a GtkButton
GType LightType();      // a GtkDrawingArea: the lights and the texts under them

// What the widget's accessible object reports once a screen reader asks:
// name and role. The name must outlive the widget.
void DescribeAccessible(GtkWidget* widget, const char* name, AtkRole role);
// A key held down for good (a lock on, a modifier latched) or a light lit:
// reported as checked and pressed; value, if given, becomes the description
// (a light's 亮 or 灭). notify: tell screen readers of the change.
void SetAccessibleOn(GtkWidget* widget, bool on, const char* value, bool notify);

}  // namespace vimbrel

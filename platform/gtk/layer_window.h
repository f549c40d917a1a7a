// The keyboard window's role on Wayland: a layer surface (wlr layer shell,
// through gtk-layer-shell) on the TOP layer, which never takes the keyboard
// focus and reserves no room. A layer surface has no position of its own:
// the keyboard puts it where it belongs through its anchors and margins.
#pragma once

#include <gtk/gtk.h>

#include <optional>

namespace vimbrel {

class LayerWindow {
public:
    // Makes the window a layer surface; before it is realised.
    void Attach(GtkWindow* window);

    // The output the surface is on (before it is shown: the first one), whole,
    // and the surface itself, in logical pixels.
    GdkRectangle Screen() const;
    GdkRectangle Surface() const;

    // The surface's top-left corner to this point of the output.
    void MoveTo(int left, int top);

    // Dragging: the background was pressed at this point of the surface, and
    // the pointer has moved to that one. The surface follows the pointer.
    // While the button is held, the compositor (sway, as wlroots' own
    // examples do) gives the pointer's place relative to where the surface
    // was at the press, not to where it has moved since: the press's place
    // plus the pointer's way since is where the surface belongs.
    void BeginDrag(double x, double y);
    bool Dragging() const { return dragFrom_.has_value(); }
    void DragTo(double x, double y);
    void EndDrag() { dragFrom_.reset(); }

    // gtk-layer-shell commits new margins by having the window draw a corner
    // of itself again. That draw uncovers nothing, and the placement that every
    // draw of the background does must not undo the move it commits. True once
    // for the first draw after each move.
    bool TakeMoveDraw();

private:
    void SetMargin(int edge, int margin);

    GtkWindow* window_ = nullptr;
    std::optional<GdkPoint> at_;        // the top-left corner last asked for
    std::optional<GdkPoint> dragFrom_;   // the press that started a drag, in surface coordinates
    std::optional<GdkPoint> dragStart_;  // the surface's corner at that press
    bool moved_ = false;
};

}  // namespace vimbrel

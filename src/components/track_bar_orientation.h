#pragma once
// Direction of a bar-shaped control (the LED meter and the slider share it).

enum TTrackBarOrientation { trHorizontal, trVertical };

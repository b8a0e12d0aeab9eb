#pragma once
// How the terminal draws the map's cells.
enum class MapPalette {
  kWindow,      // the window's own colours: green read, orange-red failed
  kBlueOrange,  // blue read, orange failed: apart for every kind of colour vision
  kText,        // characters, no colour: '#' read, 'X' failed, '.' not yet
};

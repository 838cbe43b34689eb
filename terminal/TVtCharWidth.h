#pragma once

// How many cells a character takes on the VT screen: 0 for a combining mark
// or a format character (it joins the character before it), 2 for East
// Asian wide and fullwidth characters and the emoji, 1 for the rest.
int CharWidth(char32_t ch);

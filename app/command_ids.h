#pragma once
// Command identifiers. A menu entry and its toolbar twin have different
// identifiers bound to the same handler.
enum CommandId : int {
    ID_TOOL_BEGIN = 32771,
    ID_TOOL_PAUSE = 32772,
    ID_TOOL_STOP = 32773,
    ID_MENU_EXIT = 32774,
    ID_TOOL_SAVE = 32778,
    ID_TOOL_ABOUT = 32779,
    ID_TOOL_CLEAR = 32785,
    ID_TOOL_PORT_SETTING = 32787,
    ID_MENU_CLEAR_OUTPUT = 32790,
    ID_MENU_ABOUT = 32791,
    ID_MENU_PAUSE = 32792,
    ID_MENU_PORT_SETTING = 32794,
    ID_MENU_BEGIN = 32795,
    ID_MENU_STOP = 32796,
    ID_MENU_SAVE = 32799,
    ID_MENU_RECORD_SETTING = 32801,
};

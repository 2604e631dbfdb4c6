#include "game/menu_system.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/colour.h"
#include "app/config.h"
#include "app/soundbank.h"
#include "app/state.h"
#include "app/text.h"
#include "common/hash.h"
#include "common/memory.h"
#include "engine/callbacks.h"
#include "engine/font.h"
#include "engine/sprite.h"
#include "game/game_context.h"
#include "game/player_input.h"
#include "game/screen_text.h"

namespace {

int g_testOpen = 0;

uint32_t MenuHash(const char* name) { return name ? Name_Hash(name, 1, 1) : 0; }

bool HasChildren(const ConfigNode* node) { return node && node->next && node->next->depth > node->depth; }

// "<section>::<entry>::<key>", or "<section>::<key>" without an entry.
const char* Key(const char* section, const char* entry, const char* key)
{
    return entry ? Config_Key(section, entry, key, nullptr) : Config_Key(section, key, nullptr);
}

MenuPageCallback FindCallback(ConfigNode* cfg, const char* section, const char* key)
{
    char name[CONFIG_TEXT_MAX];
    if (!Config_GetString(cfg, Key(section, nullptr, key), name, sizeof name) || !name[0]) return nullptr;
    return reinterpret_cast<MenuPageCallback>(CallbackRegistry_Find(name));
}

void ColourBytes(const float* rgba, uint8_t* out)
{
    for (int i = 0; i < 4; i++) out[i] = (uint8_t)(std::clamp(rgba[i], 0.0f, 1.0f) * 255.0f + 0.5f);
}

// A rate of change between two values over a time (at least 0.01 s).
float Rate(float from, float to, float time) { return std::fabs(to - from) / std::max(time, MENU_MIN_EASE_TIME); }

MenuText* LoadText(ConfigNode* cfg, const char* section, const char* entry)
{
    float pos[2];
    if (!Config_GetVector2(cfg, Key(section, entry, "TextPosition"), pos)) return nullptr;
    auto* text = (MenuText*)Mem_Calloc(sizeof(MenuText), 8);
    if (!text) return nullptr;
    text->pos[0] = pos[0];
    text->pos[1] = pos[1];
    char buffer[CONFIG_TEXT_MAX];
    if (Config_GetString(cfg, Key(section, entry, "TextLocalName"), buffer, sizeof buffer) && buffer[0]) {
        text->textId = Text_Id(buffer);
    } else {
        text->literal = (char*)Mem_Calloc(MENU_TEXT_BUFFER, 8);
    }
    text->scale = 1.0f;
    Config_GetFloat(cfg, Key(section, entry, "TextScale"), &text->scale);
    text->selScale = text->scale;
    Config_GetFloat(cfg, Key(section, entry, "TextSelScale"), &text->selScale);
    float toSel = 0.0f, fromSel = 0.0f;
    Config_GetFloat(cfg, Key(section, entry, "TextScaleToSelTime"), &toSel);
    Config_GetFloat(cfg, Key(section, entry, "TextScaleFromSelTime"), &fromSel);
    text->rateToSel = Rate(text->scale, text->selScale, toSel);
    text->rateFromSel = Rate(text->scale, text->selScale, fromSel);
    text->currentScale = text->scale;
    Config_GetString(cfg, Key(section, entry, "TextFontName"), buffer, sizeof buffer);
    if (!strcmp(buffer, "SECONDARY")) {
        text->font = Game_GetFont(0);
        text->flags |= MENU_TEXT_CYCLING;
    } else {
        text->font = Game_GetKartFont();
    }
    float rgba[4];
    memset(text->colour, 255, sizeof text->colour);
    if (Config_GetColour4(cfg, Key(section, entry, "TextColour"), &rgba[0], &rgba[1], &rgba[2], &rgba[3]))
        ColourBytes(rgba, text->colour);
    memcpy(text->selColour, text->colour, sizeof text->colour);
    if (Config_GetColour4(cfg, Key(section, entry, "TextSelColour"), &rgba[0], &rgba[1], &rgba[2], &rgba[3]))
        ColourBytes(rgba, text->selColour);
    uint32_t centred = 0;
    Config_GetBool(cfg, Key(section, entry, "TextCenter"), &centred);
    if (centred) text->flags |= MENU_TEXT_CENTRED;
    return text;
}

MenuImage* LoadImage(ConfigNode* cfg, const char* section, const char* entry)
{
    float rgba[4] = {1, 1, 1, 1};
    int32_t alpha = 255;
    const bool coloured =
        Config_GetColour4(cfg, Key(section, entry, "ImageColour"), &rgba[0], &rgba[1], &rgba[2], &rgba[3]) != 0;
    const bool alphaGiven = Config_GetInt(cfg, Key(section, entry, "ImageAlpha"), &alpha) != 0;
    if (alphaGiven) rgba[3] = (float)std::clamp(alpha, 0, 255) / 255.0f;
    char file[CONFIG_TEXT_MAX];
    const bool hasFile = Config_GetString(cfg, Key(section, entry, "ImageFile"), file, sizeof file) && file[0];
    if (!hasFile && !coloured && !alphaGiven) return nullptr;
    auto* image = (MenuImage*)Mem_Calloc(sizeof(MenuImage), 8);
    if (!image) return nullptr;
    if (hasFile) {
        image->sprite = Sprite_Load(file, 1);
    } else {
        uint8_t bytes[4];
        ColourBytes(rgba, bytes);
        const uint32_t packed = Colour_Pack(bytes[3], bytes[0], bytes[1], bytes[2]);
        image->sprite = Sprite_CreateBlank(&packed, 1, 1);
    }
    if (image->sprite && (coloured || alphaGiven)) Sprite_SetColour(image->sprite, rgba[0], rgba[1], rgba[2], rgba[3]);
    Config_GetVector2(cfg, Key(section, entry, "ImagePosition"), image->pos);
    image->size[0] = image->size[1] = -1.0f;
    Config_GetVector2(cfg, Key(section, entry, "ImageSize"), image->size);
    image->selSize[0] = image->size[0];
    image->selSize[1] = image->size[1];
    Config_GetVector2(cfg, Key(section, entry, "ImageSelSize"), image->selSize);
    image->current[0] = image->size[0];
    image->current[1] = image->size[1];
    float toSel[2] = {0, 0}, fromSel[2] = {0, 0};
    Config_GetVector2(cfg, Key(section, entry, "ImageSizeTimeToChangeToSel"), toSel);
    Config_GetVector2(cfg, Key(section, entry, "ImageSizeTimeToChangeFromSel"), fromSel);
    for (int axis = 0; axis < 2; axis++) {
        image->rateToSel[axis] = Rate(image->size[axis], image->selSize[axis], toSel[axis]);
        image->rateFromSel[axis] = Rate(image->size[axis], image->selSize[axis], fromSel[axis]);
    }
    uint32_t on = 0;
    if (Config_GetBool(cfg, Key(section, entry, "ImageSubtractive"), &on) && on) {
        image->flags |= MENU_IMAGE_SUBTRACTIVE;
        if (image->sprite) Sprite_SetBlendMode(image->sprite, SPRITE_BLEND_SUBTRACTIVE);
    }
    if (Config_GetBool(cfg, Key(section, entry, "ImageAdditive"), &on) && on) {
        image->flags |= MENU_IMAGE_ADDITIVE;
        if (image->sprite) Sprite_SetBlendMode(image->sprite, SPRITE_BLEND_ADDITIVE);
    }
    return image;
}

void LoadEntry(ConfigNode* cfg, const char* section, ConfigNode* node, MenuEntry* e)
{
    const char* entry = ConfigNode_GetName(node);
    e->nameHash = ConfigNode_GetHash(node);
    uint32_t on = 0;
    if (Config_GetBool(cfg, Key(section, entry, "MenuItem"), &on) && on) e->flags |= MENU_ENTRY_ITEM;
    for (int n = 0;; n++) {
        char key[40], value[CONFIG_TEXT_MAX];
        snprintf(key, sizeof key, "linkToMenuItemSel%d", n);
        if (!Config_GetString(cfg, Key(section, entry, key), value, sizeof value)) break;
        size_t size = sizeof(uint32_t) * (size_t)(e->linkCount + 1);
        auto* grown = (uint32_t*)Mem_Realloc(e->links, 8, size);
        if (!grown || Mem_GetSize(grown) < size) break;
        e->links = grown;
        e->links[e->linkCount++] = MenuHash(value);
    }
    if (e->flags & MENU_ENTRY_ITEM) {
        if (Config_GetBool(cfg, Key(section, entry, "MenuItemInitSelected"), &on) && on)
            e->flags |= MENU_ENTRY_INIT_SELECTED;
        char value[CONFIG_TEXT_MAX];
        if (Config_GetString(cfg, Key(section, entry, "MenuLink"), value, sizeof value)) {
            e->target = MenuHash(value);
            if (e->target) e->flags |= MENU_ENTRY_LINK;
            uint32_t history = 1;
            Config_GetBool(cfg, Key(section, entry, "MenuLinkAddToHistory"), &history);
            if (history) e->flags |= MENU_ENTRY_ADD_TO_HISTORY;
        } else if (Config_GetString(cfg, Key(section, entry, "MenuSelection"), value, sizeof value)) {
            e->target = MenuHash(value);
            if (e->target) e->flags |= MENU_ENTRY_SELECTION;
        } else if (Config_GetBool(cfg, Key(section, entry, "MenuItemBackup"), &on) && on) {
            e->flags |= MENU_ENTRY_BACKUP;
        }
    }
    e->text = LoadText(cfg, section, entry);
    e->image = LoadImage(cfg, section, entry);
    float values[2] = {0, 0};
    const int v0 = Config_GetFloat(cfg, Key(section, entry, "FPVal0"), &values[0]);
    const int v1 = Config_GetFloat(cfg, Key(section, entry, "FPVal1"), &values[1]);
    if ((v0 || v1) && (e->values = (MenuValues*)Mem_Calloc(sizeof(MenuValues), 8)) != nullptr)
        memcpy(e->values->values, values, sizeof values);
}

// The page's keys and entries from its section.
void LoadPage(ConfigNode* cfg, const char* section, MenuPage* page)
{
    page->initialise = FindCallback(cfg, section, "initialiseCallback");
    page->shutdown = FindCallback(cfg, section, "shutdownCallback");
    page->enter = FindCallback(cfg, section, "enterCallback");
    page->exit = FindCallback(cfg, section, "exitCallback");
    page->update = FindCallback(cfg, section, "updateCallback");
    page->render = FindCallback(cfg, section, "renderCallback");
    uint32_t close = 0;
    if (Config_GetBool(cfg, Key(section, nullptr, "closeDownMenuOnBackup"), &close) && close)
        page->flags |= MENU_PAGE_CLOSE_ON_BACKUP;
    for (ConfigNode* node = Config_FirstChild(cfg, section); node; node = Config_NextSibling(node)) {
        if (!HasChildren(node)) continue;
        size_t size = sizeof(MenuEntry) * (size_t)(page->entryCount + 1);
        auto* grown = (MenuEntry*)Mem_Recalloc(page->entries, 8, size);
        if (!grown || Mem_GetSize(grown) < size) break;
        page->entries = grown;
        LoadEntry(cfg, section, node, &page->entries[page->entryCount++]);
    }
}

void FreeEntry(MenuEntry* e)
{
    if (e->image) Sprite_Release(e->image->sprite);
    Mem_Free(e->image);
    if (e->text) Mem_Free(e->text->literal);
    Mem_Free(e->text);
    Mem_Free(e->values);
    Mem_Free(e->links);
}

void PlaySound(MenuSystem* menu, const char* name)
{
    if (menu->soundGroup) SoundBank_Play(name, menu->soundGroup, 0, 1.0f, 0, nullptr);
}

// Moves value towards target by at most step.
float Approach(float value, float target, float step)
{
    if (value < target) return std::min(target, value + step);
    return std::max(target, value - step);
}

bool IsSelected(const MenuPage* page, int32_t index)
{
    if (index == page->focus) return true;
    if (page->focus < 0 || page->focus >= page->entryCount) return false;
    const uint32_t focused = page->entries[page->focus].nameHash;
    const MenuEntry& e = page->entries[index];
    return std::find(e.links, e.links + e.linkCount, focused) != e.links + e.linkCount;
}

// A select on the focused entry; the selection hash, or 0.
uint32_t Select(MenuSystem* menu, MenuPage* page)
{
    if (page->entryCount == 0) return 0;
    PlaySound(menu, "select");
    const MenuEntry& e = page->entries[std::clamp(page->focus, 0, page->entryCount - 1)];
    if (e.flags & MENU_ENTRY_LINK) {
        const int32_t from = menu->current;
        const bool pushed = (e.flags & MENU_ENTRY_ADD_TO_HISTORY) != 0;
        if (pushed) MenuHistory_Push(menu, from);
        // A link to a missing page takes back only what this select pushed.
        if (!Menu_GoToByHash(menu, e.target, 1) && pushed) MenuHistory_Pop(menu);
        return 0;
    }
    if (e.flags & MENU_ENTRY_SELECTION) {
        Menu_SetOpen(menu, 0, 0);
        return e.target;
    }
    if (e.flags & MENU_ENTRY_BACKUP) {
        int32_t previous = 0;
        if (MenuHistory_Peek(menu, &previous)) {
            MenuHistory_Pop(menu);
            Menu_GoTo(menu, previous, 0);
        } else {
            Menu_SetOpen(menu, 0, 1);
        }
    }
    return 0;
}

void RenderEntry(const MenuPage* page, int32_t index, float dt)
{
    MenuEntry& e = page->entries[index];
    const bool selected = IsSelected(page, index);
    if (MenuImage* image = e.image) {
        if (image->sprite) {
            if (image->size[0] < 0.0f || image->size[1] < 0.0f) {
                const float rect[4] = {image->pos[0], image->pos[1], Sprite_GetWidth(image->sprite),
                                       Sprite_GetHeight(image->sprite)};
                Sprite_DrawSimple(image->sprite, rect);
            } else {
                for (int axis = 0; axis < 2; axis++) {
                    const float target = selected ? image->selSize[axis] : image->size[axis];
                    const float rate = selected ? image->rateToSel[axis] : image->rateFromSel[axis];
                    image->current[axis] = Approach(image->current[axis], target, dt * rate);
                }
                const float rect[4] = {image->pos[0], image->pos[1], image->current[0], image->current[1]};
                Sprite_DrawSimple(image->sprite, rect);
            }
        }
    }
    MenuText* text = e.text;
    if (!text || !text->font) return;
    Font* font = text->font;
    if (text->flags & MENU_TEXT_CYCLING) {
        if (Font* cycled = Game_GetFont((int)State_GetClock() % GAME_FONTS)) font = cycled;
    }
    char buffer[TEXT_BUFFER_SIZE];
    const char* string = text->textId ? Text_GetById(text->textId, 0, buffer, sizeof buffer) : text->literal;
    if (!string) return;
    const uint8_t* colour = selected ? text->selColour : text->colour;
    text->currentScale = Approach(text->currentScale, selected ? text->selScale : text->scale,
                                  dt * (selected ? text->rateToSel : text->rateFromSel));
    ScreenText_Set(font, text->currentScale, colour[0], colour[1], colour[2], colour[3] / 255.0f);
    float x = text->pos[0];
    if (text->flags & MENU_TEXT_CENTRED) x -= ScreenText_Width(font, string) * 0.5f;
    ScreenText_Draw(font, x, text->pos[1], string);
}

}  // namespace

MenuSystem* Menu_Load(const char* fileName)
{
    ConfigNode* cfg = fileName ? Config_Open(fileName) : nullptr;
    if (!cfg) return nullptr;
    auto* menu = (MenuSystem*)Mem_Calloc(sizeof(MenuSystem), 8);
    if (!menu) {
        Config_Close(cfg);
        return nullptr;
    }
    menu->player = GAME_ANY_PLAYER;
    SoundBank_LoadSection(cfg, "SOUNDS", &menu->soundGroup);
    for (ConfigNode* node = Config_FirstChild(cfg, "MenuData"); node; node = Config_NextSibling(node)) {
        size_t size = sizeof(MenuPage) * (size_t)(menu->pageCount + 1);
        auto* grown = (MenuPage*)Mem_Recalloc(menu->pages, 8, size);
        if (!grown || Mem_GetSize(grown) < size) break;
        menu->pages = grown;
        MenuPage* page = &menu->pages[menu->pageCount++];
        page->nameHash = ConfigNode_GetHash(node);
        // A group under MenuData holds the page; a plain key names the
        // top-level section that does.
        char section[CONFIG_TEXT_MAX];
        if (HasChildren(node)) snprintf(section, sizeof section, "MenuData::%s", ConfigNode_GetName(node));
        else snprintf(section, sizeof section, "%s", ConfigNode_GetName(node));
        LoadPage(cfg, section, page);
        if (page->initialise) {
            Config_SetSection(cfg, section);
            page->initialise(page, menu, cfg);
            Config_SetSection(cfg, nullptr);
        }
    }
    Config_Close(cfg);
    return menu;
}

void Menu_Free(MenuSystem* menu)
{
    if (!menu) return;
    for (int32_t p = 0; p < menu->pageCount; p++) {
        MenuPage* page = &menu->pages[p];
        for (int32_t i = 0; i < page->entryCount; i++) FreeEntry(&page->entries[i]);
        Mem_Free(page->entries);
        page->entries = nullptr;
        page->entryCount = 0;
        if (page->shutdown) page->shutdown(page, menu, nullptr);
    }
    Mem_Free(menu->history);
    Mem_Free(menu->pages);
    SoundBank_ReleaseGroup(menu->soundGroup);
    Mem_Free(menu);
}

uint32_t Menu_Update(MenuSystem* menu)
{
    if (!menu || !menu->open) return 0;
    MenuPage* page = Menu_GetCurrentPage(menu);
    if (!page) return 0;
    if (page->update) page->update(page, menu, nullptr);
    uint32_t result = 0;
    if (!(menu->flags & MENU_CHANGED_THIS_FRAME)) {
        if (PlayerInput_UpPressed(menu->player)) {
            if (Menu_FocusPrev(menu)) PlaySound(menu, "moveFocus");
        } else if (PlayerInput_DownPressed(menu->player)) {
            if (Menu_FocusNext(menu, 0, 0)) PlaySound(menu, "moveFocus");
        }
        if (PlayerInput_BackPressed(menu->player)) {
            int32_t previous = 0;
            if (MenuHistory_Peek(menu, &previous)) {
                MenuHistory_Pop(menu);
                Menu_GoTo(menu, previous, 0);
                PlaySound(menu, "back");
            } else if (page->flags & MENU_PAGE_CLOSE_ON_BACKUP) {
                PlaySound(menu, "back");
                Menu_SetOpen(menu, 0, 1);
            }
        } else if (PlayerInput_SelectPressed(PLAYER_INPUT_ANY)) {
            result = Select(menu, page);
        }
    }
    if (!result) menu->flags &= ~MENU_CHANGED_THIS_FRAME;
    return result;
}

void Menu_Render(MenuSystem* menu)
{
    if (!menu || !menu->open) return;
    MenuPage* page = Menu_GetCurrentPage(menu);
    if (!page) return;
    const float dt = State_GetFrameTime();
    for (int32_t i = 0; i < page->entryCount; i++) RenderEntry(page, i, dt);
    if (page->render) page->render(page, menu, nullptr);
}

int Menu_IsOpen(MenuSystem* menu)
{
    if (g_testOpen) return 1;
    return menu && menu->open;
}

void Menu_SetOpen(MenuSystem* menu, int open, int clearHistory)
{
    if (!menu) return;
    const uint32_t value = open ? 1u : 0u;
    if (menu->open != value) menu->flags |= MENU_CHANGED_THIS_FRAME;
    menu->open = value;
    if (clearHistory) MenuHistory_Clear(menu);
}

int Menu_GoToByName(MenuSystem* menu, const char* page, int refocus)
{
    return page ? Menu_GoToByHash(menu, MenuHash(page), refocus) : 0;
}

int Menu_GoToByHash(MenuSystem* menu, uint32_t hash, int refocus)
{
    if (!menu) return 0;
    for (int32_t p = 0; p < menu->pageCount; p++)
        if (menu->pages[p].nameHash == hash) return Menu_GoTo(menu, p, refocus);
    return 0;
}

int Menu_GoTo(MenuSystem* menu, int32_t page, int refocus)
{
    if (!menu || page < 0 || page >= menu->pageCount) return 0;
    menu->current = page;
    if (refocus) Menu_FocusNext(menu, 1, 1);
    return 1;
}

uint32_t Menu_GetCurrentHash(MenuSystem* menu)
{
    const MenuPage* page = Menu_GetCurrentPage(menu);
    return page ? page->nameHash : 0;
}

MenuPage* Menu_GetCurrentPage(MenuSystem* menu)
{
    if (!menu || menu->current < 0 || menu->current >= menu->pageCount) return nullptr;
    return &menu->pages[menu->current];
}

int Menu_NameMatches(const char* name, uint32_t hash) { return name && MenuHash(name) == hash; }

void Menu_SetPlayer(MenuSystem* menu, uint8_t player)
{
    if (menu) menu->player = player;
}

void Menu_SetEntryText(MenuSystem* menu, const char* page, const char* entry, const char* text)
{
    MenuPage* p = page ? Menu_FindPage(menu, MenuHash(page)) : nullptr;
    MenuEntry* e = p && entry ? MenuPage_FindEntry(p, MenuHash(entry)) : nullptr;
    if (!e || !e->text || !e->text->literal) return;
    snprintf(e->text->literal, MENU_TEXT_BUFFER, "%s", text ? text : "");
}

MenuPage* Menu_FindPage(MenuSystem* menu, uint32_t hash)
{
    if (!menu) return nullptr;
    for (int32_t p = 0; p < menu->pageCount; p++)
        if (menu->pages[p].nameHash == hash) return &menu->pages[p];
    return nullptr;
}

MenuEntry* MenuPage_FindEntry(MenuPage* page, uint32_t hash)
{
    if (!page) return nullptr;
    for (int32_t i = 0; i < page->entryCount; i++)
        if (page->entries[i].nameHash == hash) return &page->entries[i];
    return nullptr;
}

MenuEntry* MenuPage_FindEntryByName(MenuPage* page, const char* name, int32_t* index)
{
    if (!page || !name) return nullptr;
    const uint32_t hash = MenuHash(name);
    for (int32_t i = 0; i < page->entryCount; i++) {
        if (page->entries[i].nameHash != hash) continue;
        if (index) *index = i;
        return &page->entries[i];
    }
    return nullptr;
}

int MenuEntry_TestFlags(const MenuEntry* entry, uint32_t bits) { return entry && (entry->flags & bits) != 0; }

void MenuEntry_SetFlags(MenuEntry* entry, uint32_t bits, int on)
{
    if (entry) entry->flags = on ? entry->flags | bits : entry->flags & ~bits;
}

int MenuText_TestFlags(const MenuText* text, uint32_t bits) { return text && (text->flags & bits) != 0; }

void MenuText_SetFlags(MenuText* text, uint32_t bits, int on)
{
    if (text) text->flags = on ? text->flags | bits : text->flags & ~bits;
}

void MenuHistory_Push(MenuSystem* menu, int32_t page)
{
    if (!menu) return;
    size_t size = sizeof(int32_t) * (size_t)(menu->historyCount + 1);
    auto* grown = (int32_t*)Mem_Realloc(menu->history, 8, size);
    if (!grown || Mem_GetSize(grown) < size) return;
    menu->history = grown;
    menu->history[menu->historyCount++] = page;
}

int MenuHistory_Pop(MenuSystem* menu)
{
    if (!menu || menu->historyCount == 0) return 0;
    menu->historyCount--;
    return 1;
}

void MenuHistory_Clear(MenuSystem* menu)
{
    if (menu) menu->historyCount = 0;
}

int MenuHistory_Peek(MenuSystem* menu, int32_t* page)
{
    if (!menu || menu->historyCount == 0) return 0;
    if (page) *page = menu->history[menu->historyCount - 1];
    return 1;
}

int Menu_FocusPrev(MenuSystem* menu)
{
    MenuPage* page = Menu_GetCurrentPage(menu);
    if (!page) return 0;
    for (int32_t i = std::min(page->focus, page->entryCount) - 1; i >= 0; i--) {
        if (page->entries[i].flags & MENU_ENTRY_ITEM) {
            page->focus = i;
            return 1;
        }
    }
    return 0;
}

int Menu_FocusNext(MenuSystem* menu, int fromStart, int preferInitial)
{
    MenuPage* page = Menu_GetCurrentPage(menu);
    if (!page) return 0;
    const int32_t first = fromStart ? 0 : std::max(page->focus + 1, 0);
    int32_t found = -1;
    for (int32_t i = first; i < page->entryCount; i++) {
        const uint32_t f = page->entries[i].flags;
        if (!(f & MENU_ENTRY_ITEM)) continue;
        if (preferInitial && (f & MENU_ENTRY_INIT_SELECTED)) {
            found = i;
            break;
        }
        if (found < 0) {
            found = i;
            if (!preferInitial) break;
        }
    }
    if (found < 0 || found == page->focus) return 0;
    page->focus = found;
    return 1;
}

void MenuTest_SetOpen(int open) { g_testOpen = open; }

// The media set: the embedded files and the handles made from them.
#include "flow/media_set.h"

#include "flow/light.h"
#include "media/stream.h"
#include "world/level.h"
#include "world/particles.h"

extern "C" const unsigned char zmedia_music_ingame_ogg[], zmedia_music_ingame_ogg_end[];
extern "C" const unsigned char zmedia_music_title_ogg[], zmedia_music_title_ogg_end[];
extern "C" const unsigned char zmedia_tiles4_24x24_png[], zmedia_tiles4_24x24_png_end[];
extern "C" const unsigned char zmedia_tiles10_24x24_png[], zmedia_tiles10_24x24_png_end[];
extern "C" const unsigned char zmedia_wedge_png[], zmedia_wedge_png_end[];
extern "C" const unsigned char zmedia_gfx_star_png[], zmedia_gfx_star_png_end[];
extern "C" const unsigned char zmedia_gfx_explosion_png[], zmedia_gfx_explosion_png_end[];
extern "C" const unsigned char zmedia_ship_png[], zmedia_ship_png_end[];
extern "C" const unsigned char zmedia_chaser_png[], zmedia_chaser_png_end[];
extern "C" const unsigned char zmedia_titlescreen1_png[], zmedia_titlescreen1_png_end[];
extern "C" const unsigned char zmedia_titlescreen2_png[], zmedia_titlescreen2_png_end[];
extern "C" const unsigned char zmedia_gfx_grid_png[], zmedia_gfx_grid_png_end[];
extern "C" const unsigned char zmedia_CasualEncounter_ttf[], zmedia_CasualEncounter_ttf_end[];
extern "C" const unsigned char zmedia_SFTheraminGothic_ttf[], zmedia_SFTheraminGothic_ttf_end[];
extern "C" const unsigned char zmedia_snd_chaser_turn_ogg[], zmedia_snd_chaser_turn_ogg_end[];
extern "C" const unsigned char zmedia_snd_collision_ogg[], zmedia_snd_collision_ogg_end[];
extern "C" const unsigned char zmedia_snd_die_ogg[], zmedia_snd_die_ogg_end[];
extern "C" const unsigned char zmedia_snd_make_gap_ogg[], zmedia_snd_make_gap_ogg_end[];
extern "C" const unsigned char zmedia_snd_pickup_ogg[], zmedia_snd_pickup_ogg_end[];
extern "C" const unsigned char zmedia_snd_draw_level_ogg[], zmedia_snd_draw_level_ogg_end[];
extern "C" const unsigned char zmedia_snd_untouched_ogg[], zmedia_snd_untouched_ogg_end[];
extern "C" const unsigned char zmedia_snd_bonus_ogg[], zmedia_snd_bonus_ogg_end[];
extern "C" const unsigned char zmedia_icon_png[], zmedia_icon_png_end[];

TSound* musicTitle = nullptr;
TSound* musicIngame = nullptr;
TImage* tiles4 = nullptr;
TImage* tiles10 = nullptr;
TImage* wedgeImage = nullptr;
TImage* starImage = nullptr;
TImage* explosionImage = nullptr;
TImage* shipImage = nullptr;
TImage* chaserImage = nullptr;
TImage* titleImage1 = nullptr;
TImage* titleImage2 = nullptr;
TImage* gridTile = nullptr;
TImage* lightImage = nullptr;
TImage* gridImage = nullptr;
TImageFont* defaultFont = nullptr;
TImageFont* smallFont = nullptr;
TImageFont* bigFont = nullptr;
TSound* sndChaserTurn = nullptr;
TSound* sndCollision = nullptr;
TSound* sndDie = nullptr;
TSound* sndMakeGap = nullptr;
TSound* sndPickup = nullptr;
TSound* sndDrawLevel = nullptr;
TSound* sndUntouched = nullptr;
TSound* sndBonus = nullptr;

namespace {
struct EmbeddedMedia {
  const char16_t* name;
  const unsigned char* begin;
  const unsigned char* end;
};

// In the order they are registered.
const EmbeddedMedia MEDIA_FILES[] = {
    {u"music_ingame.ogg", zmedia_music_ingame_ogg, zmedia_music_ingame_ogg_end},
    {u"music_title.ogg", zmedia_music_title_ogg, zmedia_music_title_ogg_end},
    {u"tiles4-24x24.png", zmedia_tiles4_24x24_png, zmedia_tiles4_24x24_png_end},
    {u"tiles10-24x24.png", zmedia_tiles10_24x24_png, zmedia_tiles10_24x24_png_end},
    {u"wedge.png", zmedia_wedge_png, zmedia_wedge_png_end},
    {u"gfx_star.png", zmedia_gfx_star_png, zmedia_gfx_star_png_end},
    {u"gfx_explosion.png", zmedia_gfx_explosion_png, zmedia_gfx_explosion_png_end},
    {u"ship.png", zmedia_ship_png, zmedia_ship_png_end},
    {u"chaser.png", zmedia_chaser_png, zmedia_chaser_png_end},
    {u"titlescreen1.png", zmedia_titlescreen1_png, zmedia_titlescreen1_png_end},
    {u"titlescreen2.png", zmedia_titlescreen2_png, zmedia_titlescreen2_png_end},
    {u"gfx_grid.png", zmedia_gfx_grid_png, zmedia_gfx_grid_png_end},
    {u"CasualEncounter.ttf", zmedia_CasualEncounter_ttf, zmedia_CasualEncounter_ttf_end},
    {u"SFTheraminGothic.ttf", zmedia_SFTheraminGothic_ttf, zmedia_SFTheraminGothic_ttf_end},
    {u"snd_chaser_turn.ogg", zmedia_snd_chaser_turn_ogg, zmedia_snd_chaser_turn_ogg_end},
    {u"snd_collision.ogg", zmedia_snd_collision_ogg, zmedia_snd_collision_ogg_end},
    {u"snd_die.ogg", zmedia_snd_die_ogg, zmedia_snd_die_ogg_end},
    {u"snd_make_gap.ogg", zmedia_snd_make_gap_ogg, zmedia_snd_make_gap_ogg_end},
    {u"snd_pickup.ogg", zmedia_snd_pickup_ogg, zmedia_snd_pickup_ogg_end},
    {u"snd_draw_level.ogg", zmedia_snd_draw_level_ogg, zmedia_snd_draw_level_ogg_end},
    {u"snd_untouched.ogg", zmedia_snd_untouched_ogg, zmedia_snd_untouched_ogg_end},
    {u"snd_bonus.ogg", zmedia_snd_bonus_ogg, zmedia_snd_bonus_ogg_end},
    {u"icon.png", zmedia_icon_png, zmedia_icon_png_end},
};
}  // namespace

void RegisterMediaFiles() {
  for (const EmbeddedMedia& m : MEDIA_FILES) {
    int size = static_cast<int>(m.end - m.begin);
    if (size > 0) RegisterEmbeddedFile(m.name, m.begin, size);
  }
}

int EmbeddedMediaCount() {
  int n = 0;
  for (const EmbeddedMedia& m : MEDIA_FILES) n += m.end > m.begin;
  return n;
}

void LoadMediaSet() {
  musicTitle = LoadSound(u"incbin::music_title.ogg", SOUND_LOOPING);
  musicIngame = LoadSound(u"incbin::music_ingame.ogg", SOUND_LOOPING);
  SetBlend(BLEND_ALPHA);
  SetAutoCentreHandle(true);
  tiles4 = LoadImageStrip(u"incbin::tiles4-24x24.png", 24, 24, 0, 128);
  tiles10 = LoadImageStrip(u"incbin::tiles10-24x24.png", 24, 24, 0, 16);
  wedgeImage = LoadImageFile(u"incbin::wedge.png");
  starImage = LoadImageFile(u"incbin::gfx_star.png");
  explosionImage = LoadImageFile(u"incbin::gfx_explosion.png");
  shipImage = LoadImageFile(u"incbin::ship.png");
  chaserImage = LoadImageFile(u"incbin::chaser.png");
  ClearParticles();
  titleImage1 = LoadImageFile(u"incbin::titlescreen1.png");
  titleImage2 = LoadImageFile(u"incbin::titlescreen2.png");
  gridTile = LoadImageFile(u"incbin::gfx_grid.png");
  lightImage = CreateBlankImage(70, 50, 1);
  SetImageHandlePoint(lightImage, 0, 0);
  for (auto& column : lightMap)
    for (auto& cell : column) cell[0] = cell[1] = cell[2] = 0;
  gridImage = CreateBlankImage(34, 24, 2);
  SetImageHandlePoint(gridImage, 17, 13);
  defaultFont = CurrentFont();
  smallFont = LoadFontFile(u"incbin::CasualEncounter.ttf", 8, FONT_SMOOTH);
  bigFont = LoadFontFile(u"incbin::SFTheraminGothic.ttf", 48, FONT_SMOOTH);
  SetCurrentFont(smallFont);
  sndChaserTurn = LoadSound(u"incbin::snd_chaser_turn.ogg");
  sndCollision = LoadSound(u"incbin::snd_collision.ogg");
  sndDie = LoadSound(u"incbin::snd_die.ogg");
  sndMakeGap = LoadSound(u"incbin::snd_make_gap.ogg");
  sndPickup = LoadSound(u"incbin::snd_pickup.ogg");
  sndDrawLevel = LoadSound(u"incbin::snd_draw_level.ogg");
  sndUntouched = LoadSound(u"incbin::snd_untouched.ogg");
  sndBonus = LoadSound(u"incbin::snd_bonus.ogg");
  ClearLevelGrid();
  FinishLoadingSounds();  // every sound is ready before the title starts
}

bool LoadOutcomeMedia() {
  if (shipImage && chaserImage) return true;
  RegisterMediaFiles();
  SetBlend(BLEND_ALPHA);
  SetAutoCentreHandle(true);
  shipImage = LoadImageFile(u"incbin::ship.png");
  chaserImage = LoadImageFile(u"incbin::chaser.png");
  return shipImage && chaserImage;
}

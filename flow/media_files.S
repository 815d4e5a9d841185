/* The game's 23 media files, linked into the program image and read in
   place. The assembler finds them on its include path (the assets folder). */
	.section .rodata.zephrant_media,"a"

	.balign 16
	.global zmedia_music_ingame_ogg
	.global zmedia_music_ingame_ogg_end
zmedia_music_ingame_ogg:
#if __has_include("music_ingame.ogg")
	.incbin "music_ingame.ogg"
#endif
zmedia_music_ingame_ogg_end:

	.balign 16
	.global zmedia_music_title_ogg
	.global zmedia_music_title_ogg_end
zmedia_music_title_ogg:
#if __has_include("music_title.ogg")
	.incbin "music_title.ogg"
#endif
zmedia_music_title_ogg_end:

	.balign 16
	.global zmedia_tiles4_24x24_png
	.global zmedia_tiles4_24x24_png_end
zmedia_tiles4_24x24_png:
#if __has_include("tiles4-24x24.png")
	.incbin "tiles4-24x24.png"
#endif
zmedia_tiles4_24x24_png_end:

	.balign 16
	.global zmedia_tiles10_24x24_png
	.global zmedia_tiles10_24x24_png_end
zmedia_tiles10_24x24_png:
#if __has_include("tiles10-24x24.png")
	.incbin "tiles10-24x24.png"
#endif
zmedia_tiles10_24x24_png_end:

	.balign 16
	.global zmedia_wedge_png
	.global zmedia_wedge_png_end
zmedia_wedge_png:
#if __has_include("wedge.png")
	.incbin "wedge.png"
#endif
zmedia_wedge_png_end:

	.balign 16
	.global zmedia_gfx_star_png
	.global zmedia_gfx_star_png_end
zmedia_gfx_star_png:
#if __has_include("gfx_star.png")
	.incbin "gfx_star.png"
#endif
zmedia_gfx_star_png_end:

	.balign 16
	.global zmedia_gfx_explosion_png
	.global zmedia_gfx_explosion_png_end
zmedia_gfx_explosion_png:
#if __has_include("gfx_explosion.png")
	.incbin "gfx_explosion.png"
#endif
zmedia_gfx_explosion_png_end:

	.balign 16
	.global zmedia_ship_png
	.global zmedia_ship_png_end
zmedia_ship_png:
#if __has_include("ship.png")
	.incbin "ship.png"
#endif
zmedia_ship_png_end:

	.balign 16
	.global zmedia_chaser_png
	.global zmedia_chaser_png_end
zmedia_chaser_png:
#if __has_include("chaser.png")
	.incbin "chaser.png"
#endif
zmedia_chaser_png_end:

	.balign 16
	.global zmedia_titlescreen1_png
	.global zmedia_titlescreen1_png_end
zmedia_titlescreen1_png:
#if __has_include("titlescreen1.png")
	.incbin "titlescreen1.png"
#endif
zmedia_titlescreen1_png_end:

	.balign 16
	.global zmedia_titlescreen2_png
	.global zmedia_titlescreen2_png_end
zmedia_titlescreen2_png:
#if __has_include("titlescreen2.png")
	.incbin "titlescreen2.png"
#endif
zmedia_titlescreen2_png_end:

	.balign 16
	.global zmedia_gfx_grid_png
	.global zmedia_gfx_grid_png_end
zmedia_gfx_grid_png:
#if __has_include("gfx_grid.png")
	.incbin "gfx_grid.png"
#endif
zmedia_gfx_grid_png_end:

	.balign 16
	.global zmedia_CasualEncounter_ttf
	.global zmedia_CasualEncounter_ttf_end
zmedia_CasualEncounter_ttf:
#if __has_include("CasualEncounter.ttf")
	.incbin "CasualEncounter.ttf"
#endif
zmedia_CasualEncounter_ttf_end:

	.balign 16
	.global zmedia_SFTheraminGothic_ttf
	.global zmedia_SFTheraminGothic_ttf_end
zmedia_SFTheraminGothic_ttf:
#if __has_include("SFTheraminGothic.ttf")
	.incbin "SFTheraminGothic.ttf"
#endif
zmedia_SFTheraminGothic_ttf_end:

	.balign 16
	.global zmedia_snd_chaser_turn_ogg
	.global zmedia_snd_chaser_turn_ogg_end
zmedia_snd_chaser_turn_ogg:
#if __has_include("snd_chaser_turn.ogg")
	.incbin "snd_chaser_turn.ogg"
#endif
zmedia_snd_chaser_turn_ogg_end:

	.balign 16
	.global zmedia_snd_collision_ogg
	.global zmedia_snd_collision_ogg_end
zmedia_snd_collision_ogg:
#if __has_include("snd_collision.ogg")
	.incbin "snd_collision.ogg"
#endif
zmedia_snd_collision_ogg_end:

	.balign 16
	.global zmedia_snd_die_ogg
	.global zmedia_snd_die_ogg_end
zmedia_snd_die_ogg:
#if __has_include("snd_die.ogg")
	.incbin "snd_die.ogg"
#endif
zmedia_snd_die_ogg_end:

	.balign 16
	.global zmedia_snd_make_gap_ogg
	.global zmedia_snd_make_gap_ogg_end
zmedia_snd_make_gap_ogg:
#if __has_include("snd_make_gap.ogg")
	.incbin "snd_make_gap.ogg"
#endif
zmedia_snd_make_gap_ogg_end:

	.balign 16
	.global zmedia_snd_pickup_ogg
	.global zmedia_snd_pickup_ogg_end
zmedia_snd_pickup_ogg:
#if __has_include("snd_pickup.ogg")
	.incbin "snd_pickup.ogg"
#endif
zmedia_snd_pickup_ogg_end:

	.balign 16
	.global zmedia_snd_draw_level_ogg
	.global zmedia_snd_draw_level_ogg_end
zmedia_snd_draw_level_ogg:
#if __has_include("snd_draw_level.ogg")
	.incbin "snd_draw_level.ogg"
#endif
zmedia_snd_draw_level_ogg_end:

	.balign 16
	.global zmedia_snd_untouched_ogg
	.global zmedia_snd_untouched_ogg_end
zmedia_snd_untouched_ogg:
#if __has_include("snd_untouched.ogg")
	.incbin "snd_untouched.ogg"
#endif
zmedia_snd_untouched_ogg_end:

	.balign 16
	.global zmedia_snd_bonus_ogg
	.global zmedia_snd_bonus_ogg_end
zmedia_snd_bonus_ogg:
#if __has_include("snd_bonus.ogg")
	.incbin "snd_bonus.ogg"
#endif
zmedia_snd_bonus_ogg_end:

	.balign 16
	.global zmedia_icon_png
	.global zmedia_icon_png_end
zmedia_icon_png:
#if __has_include("icon.png")
	.incbin "icon.png"
#endif
zmedia_icon_png_end:

	.section .note.GNU-stack,"",@progbits


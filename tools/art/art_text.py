"""Every text that appears inside the skin artwork, with the type style it is
set in. bake_glyphs.py rasterises exactly these characters into glyphs.py;
make_art.py draws with them. Add a string here, then re-run bake_glyphs.py."""

# style name -> (font file, family inside the collection, pixel size)
STYLES = {
    "title": ("/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc", "Noto Sans CJK SC", 34),
    "subtitle": ("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", "Noto Sans CJK SC", 15),
    "version": ("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", "Noto Sans CJK SC", 12),
    "header": ("/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc", "Noto Sans CJK SC", 14),
    "body": ("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", "Noto Sans CJK SC", 13),
    "button": ("/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc", "Noto Sans CJK SC", 14),
}

PRODUCT_CN = "Morvek磁盘扫描"
PRODUCT_EN = "Morvek Disk Scan"
TAGLINE = "硬盘表面扫描 · 坏块检测"
VERSION = "V1.1  Build 20071201"

LEGEND_TITLE = "扫描图例"
LEGEND_GOOD = "读取正常"
LEGEND_BAD = "读取失败（坏块）"
LEGEND_BLANK = "尚未扫描"
LEGEND_NOTE = "每个方格代表磁盘的 1/2484"

INFO_TITLE = "扫描信息"

BUTTON_START = "开始扫描"
BUTTON_STOP = "停止扫描"
BUTTON_EXIT = "退出"

# style name -> every string drawn in that style
USES = {
    "title": [PRODUCT_CN],
    "subtitle": [PRODUCT_EN, TAGLINE],
    "version": [VERSION],
    "header": [LEGEND_TITLE, INFO_TITLE],
    "body": [LEGEND_GOOD, LEGEND_BAD, LEGEND_BLANK, LEGEND_NOTE],
    "button": [BUTTON_START, BUTTON_STOP, BUTTON_EXIT],
}

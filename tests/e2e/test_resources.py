"""What KstIns.exe carries in its resources (read from the file; no Wine).
The version resource and manifest are checked on the shipping build by
tests/exe/check_exe.py."""
from lib import pe

IMAGES = [(104, 'Kestrune.sys'), (105, 'Morvellin.sys'), (106, 'Kestrune.vxd')]


def test_driver_images_are_embedded_byte_for_byte(build):
    image = build.kstins.read_bytes()
    for number, name in IMAGES:
        # The drivers folder of the build keeps the images it produced there.
        expected = (build.folder / 'drivers' / 'images' / name).read_bytes()
        assert pe.resource(image, 'DRIVER', number) == expected, name
    drivers = sorted(n for (kind, n, _) in pe.resources(image) if kind == 'DRIVER')
    assert drivers == [104, 105, 106]


def test_main_icon_is_32_by_32_in_16_colours(build):
    image = build.kstins.read_bytes()
    group = pe.resource(image, pe.RT_GROUP_ICON, 'MAINICON')
    # GRPICONDIR: one 32x32 entry of 16 colours, 4 bits per pixel.
    assert group[4:6] == b'\x01\x00'
    assert (group[6], group[7], group[8], group[12]) == (32, 32, 16, 4)

"""The program's folders come from the top CMakeLists.txt, the one list the builds glob."""

import os
import unittest

from program_files import ROOT, NoFolderList, program_folders, program_folders_in, tree_sources


class ProgramFolders(unittest.TestCase):
    def test_the_list_is_read_across_lines_and_comments(self):
        text = "set(QDI_PROGRAM_FOLDERS app  usb # the hubs\n    report)\nset(OTHER a)\n"
        self.assertEqual(program_folders_in(text), ["app", "usb", "report"])
        for bad in ("set(QDI_PROGRAM_FOLDER app)\n", "set(QDI_PROGRAM_FOLDERS # none\n)\n"):
            with self.assertRaises(NoFolderList):
                program_folders_in(bad)

    def test_the_tree_lists_each_program_folder_with_its_sources(self):
        folders = program_folders()
        sources = tree_sources()
        for folder in folders:
            self.assertTrue(os.path.isdir(os.path.join(ROOT, folder)), folder)
            self.assertTrue([s for s in sources if s.startswith(folder + "/")], folder)
        self.assertNotIn("app/winmain.cpp", sources)


if __name__ == "__main__":
    unittest.main()

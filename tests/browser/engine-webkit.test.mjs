// The main cases of a page (engine-cases.mjs) in Debian's WebKitGTK (MiniBrowser under Xvfb), driven
// through WebKitWebDriver by selenium-webdriver.
import { engineCases } from './engine-cases.mjs';

engineCases('webkit');

*next of kin*
*foreign account*
*foreign partner*
*transfer the fund*
*transfer of the fund*
*transfer of funds*
*transfer the sum*
*transfer of the sum*
*the total sum*
*million united states dollars*
*million us dollars*
*million u.s. dollars*
*million dollars*
*(us$*
*us$[0-9]*
*usd[0-9]*
*usd [0-9]*
*strictly confidential*
*absolute confidentiality*
*utmost confidentiality*
*nigeria*
*barrister*
*late husband*
*late father*
*deceased*
*central bank*
*security company*
*diplomatic*
*of the total*
*for your assistance*
*urgent assistance*
*business proposal*
*business relationship*
*god bless*
*bank account*
*account number*
*beneficiary*
